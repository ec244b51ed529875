#include "agent/agent/netif/netif_step.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/netif/tun_runner.hpp"
#include "util/log/log.hpp"
#include "util/runtime/strand.hpp"

namespace valdori::agent::netif {
namespace {

namespace asio = boost::asio;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::netif::mobile">(); }

// The supervisor catches whatever its runner throws, so nothing is lost by not joining it. The
// tunnel token in the slot marks the supervisor as started; it is never removed, so the
// supervisor starts once per agent and a failed runner is not restarted. Made from an already
// cancelled agent token (a shutdown before any application), the tunnel token starts cancelled
// and the supervisor's tasks end at once.
void start_tunnel_supervisor_once(const std::shared_ptr<AgentInner>& inner) {
  const std::shared_ptr<const TunnelSlot> slot = inner->netif.slot();
  if (slot->token) return;
  const util::CancellationToken token = inner->token.child_token();
  inner->netif.store_slot(TunnelSlot{slot->device, token, slot->own_addresses});
  VLOG_TRACE(lg(), "Start TUN device runner");
  asio::co_spawn(util::make_task_strand(inner->executor), tun_supervisor(inner, slot->device, token), asio::detached);
}

// Publishes the addresses this node holds in its networks, for the tunnel readers.
void publish_own_addresses(AgentNetif& netif, const NetworkMap& networks) {
  const std::shared_ptr<const TunnelSlot> slot = netif.slot();
  TunnelSlot next{slot->device, slot->token, {}};
  for (const auto& [url, network] : networks) {
    if (network.current_state.ip.applied) next.own_addresses.push_back(network.current_state.ip.applied->addr());
  }
  if (next.own_addresses != slot->own_addresses) netif.store_slot(std::move(next));
}

}  // namespace

void apply_desired_state(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks, const util::Url& url) {
  start_tunnel_supervisor_once(inner);
  VLOG_TRACE(lg(),
             "We're running on a mobile platform where the network listener handles TUN address updates. "
             "Therefore, we just assume everything is fine and hope for the best! 🤞");
  const auto found = networks.find(url);
  if (found != networks.end()) found->second.current_state.ip = found->second.desired_state.ip;
  publish_own_addresses(inner->netif, networks);
}

}  // namespace valdori::agent::netif
