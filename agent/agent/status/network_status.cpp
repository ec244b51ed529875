// A network's state as a host shows it next to the network's name.
#include <variant>

#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/status/status.hpp"
#include "util/overloaded.hpp"

namespace valdori::agent::status {

std::string NetworkStatus::status_text() const {
  using Health = network::NetworkHealth;
  const bool health_disabled = std::holds_alternative<Health::Disabled>(health.kind);
  if (disabled) return health_disabled ? "Disabled" : "Disabling...";
  if (health_disabled) return "Enabling...";
  return std::visit(util::Overloaded{
                        [](const Health::Initializing&) { return std::string("Initializing..."); },
                        [](const Health::Disabled&) { return std::string("Disabled"); },  // handled above
                        [](const Health::Ok&) { return std::string("Ok"); },
                        [](const Health::Pending&) { return std::string("Pending"); },
                        [](const Health::RetrieveConfigError& e) { return "Config Error - " + e.message; },
                        [](const Health::NotAMemberError&) { return std::string("Error - Not a Member"); },
                    },
                    health.kind);
}

bool NetworkStatus::is_controller_managed(const util::Url& url) { return housekeeping::is_controller_network(url); }

}  // namespace valdori::agent::status
