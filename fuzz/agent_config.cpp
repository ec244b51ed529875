// The agent configuration file, read as AgentConfig::load reads it once the file is in memory:
// the UTF-8 check, the TOML parse and the typed read, with errors rendered against the text, and
// the unknown keys listed.
// A configuration that reads must write, and its text must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/agent/config_document.hpp"
#include "agent/toml/document.hpp"
#include "fuzz/fuzz_input.hpp"
#include "util/text/utf8.hpp"

namespace valdori::fuzz {
namespace {

using namespace agent;

// The text of the configuration in `text`, or none where it does not read.
std::optional<std::string> read_and_write(std::string_view text) {
  auto document = toml_doc::parse_document(text);
  if (!document) {
    (void)toml_doc::render(document.error(), text);
    return std::nullopt;
  }
  auto config = read_agent_config(*document);
  if (!config) {
    (void)toml_doc::render(config.error(), text);
    return std::nullopt;
  }
  (void)unknown_keys(*document);
  auto written = write_agent_config(*config);
  if (!written) std::abort();  // a configuration that was read cannot be saved
  return std::move(*written);
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!valdori::util::text::is_valid_utf8(text)) return 0;
  const auto written = read_and_write(text);
  if (!written) return 0;
  const auto rewritten = read_and_write(*written);
  if (!rewritten || *rewritten != *written) std::abort();  // the saved file reads otherwise
  return 0;
}
