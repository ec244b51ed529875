#include "agent/agent/network_listener/network_change.hpp"

#include <fmt/format.h>

#include "util/text/debug_string.hpp"

namespace valdori::agent {

std::string debug(const NetworkChange& change) {
  const auto list = [](const std::vector<util::net::Ipv4Net>& networks) {
    return fmt::format("[{}]", fmt::join(networks, ", "));
  };
  const auto address = [](const util::net::Ipv4Addr& a) { return a.to_string(); };
  return fmt::format("NetworkChange {{ ips: {}, routes: {}, dns_server: {} }}",
                     util::text::debug_optional(change.ips, list), util::text::debug_optional(change.routes, list),
                     util::text::debug_optional(change.dns_server, address));
}

}  // namespace valdori::agent
