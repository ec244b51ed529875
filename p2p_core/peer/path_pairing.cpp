#include "p2p_core/peer/path_pairing.hpp"

#include <algorithm>

namespace valdori::p2p::peer {
namespace {

bool has_binding(const node::UdpBindings& bindings, const net::SocketAddr& local) {
  return std::ranges::any_of(bindings, [&](const auto& binding) { return binding->local_addr() == local; });
}

}  // namespace

bool can_pair(const boost::asio::ip::address& local, const boost::asio::ip::address& remote) {
  return local.is_v4() == remote.is_v4() && local.is_loopback() == remote.is_loopback();
}

std::vector<PeerPathKey> path_keys_for(const node::UdpBindings& bindings, std::span<const net::SocketAddr> remotes) {
  std::vector<PeerPathKey> keys;
  for (const auto& binding : bindings) {
    for (const auto& remote : remotes) {
      const PeerPathKey key{binding->local_addr(), remote};
      if (can_pair(key.local.address(), remote.address()) && std::ranges::find(keys, key) == keys.end())
        keys.push_back(key);
    }
  }
  return keys;
}

std::vector<PeerPathKey> remove_paths_without_binding(PathMap& paths, const node::UdpBindings& bindings) {
  return paths.erase_if([&](const PeerPathKey& key, const auto&) { return !has_binding(bindings, key.local); });
}

}  // namespace valdori::p2p::peer
