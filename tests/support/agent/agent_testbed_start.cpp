// Kept apart from the rest of the bench, so that tests of the core's parts link without the
// agent's tasks.
#include <stdexcept>

#include "tests/support/agent/agent_testbed.hpp"

namespace valdori::agent::testing {

Agent AgentTestbed::start(AgentConfig config, PlatformDependent platform, std::filesystem::path config_path) {
  auto started = runtime_.block_on(
      Agent::start(runtime_.executor(), std::move(config), std::move(config_path), std::move(platform)));
  if (!started) throw std::runtime_error("test setup failed: agent start: " + started.error().to_string());
  return std::move(*started);
}

}  // namespace valdori::agent::testing
