#include "agent/network/network_health.hpp"

#include "util/overloaded.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::network {

using util::Overloaded;

std::string debug(const NetworkHealth& health) {
  return std::visit(Overloaded{
                        [](const NetworkHealth::Initializing&) { return std::string("Initializing"); },
                        [](const NetworkHealth::Disabled&) { return std::string("Disabled"); },
                        [](const NetworkHealth::Ok&) { return std::string("Ok"); },
                        [](const NetworkHealth::Pending&) { return std::string("Pending"); },
                        [](const NetworkHealth::RetrieveConfigError& e) {
                          return "RetrieveConfigError(" + util::text::debug_string(e.message) + ")";
                        },
                        [](const NetworkHealth::NotAMemberError&) { return std::string("NotAMemberError"); },
                    },
                    health.kind);
}

}  // namespace valdori::network
