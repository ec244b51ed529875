#include "agent/agent/router/router_step.hpp"

#include <string>

#include "util/log/log.hpp"

namespace valdori::agent::router {
namespace {

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::router::mobile">(); }

}  // namespace

void apply_desired_state(NetworkMap& networks, const util::Url& url) {
  const auto found = networks.find(url);
  if (found == networks.end()) return;
  network::AgentState& current = found->second.current_state;
  const network::AgentState& desired = found->second.desired_state;

  VLOG_TRACE(lg(),
             "We're running on a mobile platform where the network listener handles route updates. "
             "Therefore, we just assume everything is fine and hope for the best! 🤞");
  current.routes = desired.routes;

  const bool is_gateway = desired.forwardings.applied && !desired.forwardings.applied->destinations.empty();
  if (is_gateway) {
    VLOG_WARN(lg(), "{}", kGatewayNotSupported);
    current.forwardings = {std::nullopt, std::string(kGatewayNotSupported)};
  } else {
    current.forwardings = desired.forwardings;
  }
}

}  // namespace valdori::agent::router
