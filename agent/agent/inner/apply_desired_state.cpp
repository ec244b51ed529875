#include "agent/agent/dns/dns_step.hpp"
#include "agent/agent/firewall/agent_firewall.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/netif/netif_step.hpp"
#include "agent/agent/router/router_step.hpp"

namespace valdori::agent {

void AgentInner::apply_desired_state(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks,
                                     const util::Url& url) {
  netif::apply_desired_state(inner, networks, url);
  router::apply_desired_state(networks, url);
  firewall::apply_desired_state(*inner, networks, url);
  if (inner->dns) dns::apply_desired_state(*inner->dns, networks);
}

}  // namespace valdori::agent
