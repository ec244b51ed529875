// Which of the node's bindings can reach which remote address, and the clean-up of paths whose
// binding has gone.
#pragma once

#include <span>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/peer_path.hpp"

namespace valdori::p2p::peer {

// A local address reaches a remote one of its own family, and a loopback address only a
// loopback one (and the other way round): a loopback socket cannot send out, and a path from a
// real address to a loopback one would only double the loopback path.
bool can_pair(const boost::asio::ip::address& local, const boost::asio::ip::address& remote);

// One key from every distinct local address of `bindings` to every remote address it can reach.
std::vector<PeerPathKey> path_keys_for(const node::UdpBindings& bindings, std::span<const net::SocketAddr> remotes);

// Removes the paths whose local address is that of no binding; returns their keys.
std::vector<PeerPathKey> remove_paths_without_binding(PathMap& paths, const node::UdpBindings& bindings);

}  // namespace valdori::p2p::peer
