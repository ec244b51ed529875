// valdori-e2e-save-loop: saves an agent configuration over and over, for the test that kills it
// at random moments.
//
//   valdori-e2e-save-loop loop CONFIG
//     Loads CONFIG, prints "saving" and saves it for ever, its MTU switching between 1000 and
//     1001 from one save to the next.
//
//   valdori-e2e-save-loop show CONFIG
//     Loads CONFIG and prints the node's public key and the MTU ("-" when absent).
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "agent/agent/config.hpp"

namespace {

using valdori::agent::AgentConfig;

int fail(std::string_view message) {
  fmt::print(stderr, "valdori-e2e-save-loop: {}\n", message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: valdori-e2e-save-loop loop|show CONFIG");
  const std::string_view mode = argv[1];
  const std::filesystem::path path = argv[2];
  auto config = AgentConfig::load(path);
  if (!config) return fail(config.error().to_string());
  if (mode == "show") {
    fmt::print("{} {}\n", config->identity.pk().to_string(), config->mtu ? std::to_string(*config->mtu) : "-");
    return 0;
  }
  if (mode != "loop") return fail(fmt::format("unknown mode '{}'", mode));
  fmt::print("saving\n");
  std::fflush(stdout);
  for (std::uint16_t round = 0;; ++round) {
    config->mtu = static_cast<std::uint16_t>(1000 + round % 2);
    if (auto saved = config->save(path); !saved) return fail(saved.error().to_string());
  }
}
