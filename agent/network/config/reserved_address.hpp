// The address a network keeps for this agent's own DNS responder: the last one below the
// broadcast address. No node may take it.
#pragma once

#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

// Broadcast minus one, saturating: in 0.0.0.0/32 the broadcast address is 0.0.0.0 and so is the
// reserved one, rather than wrapping around to 255.255.255.255.
inline util::net::Ipv4Addr reserved_address(const util::net::Ipv4Net& network) {
  const std::uint32_t broadcast = network.broadcast().to_uint();
  return util::net::Ipv4Addr(broadcast == 0 ? 0 : broadcast - 1);
}

}  // namespace valdori::network::config
