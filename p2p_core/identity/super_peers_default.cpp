#include <cstdio>
#include <cstdlib>

#include "p2p_core/identity/super_peer_url.hpp"

namespace valdori::p2p {
namespace {

constexpr std::string_view kDefaultSuperPeers[] = {
    "udp://sp1.valdori.net:22527?publicKey=83c7b2fb04469482b16224a714174bf93fd78ba369b3ddf366afaca9ecd4045d"
    "&networkId=1&tcpPort=22527",
    "udp://sp2.valdori.net:22527?publicKey=1e2b9984e0feb5d49e73cc934a26905d227669ac1c3ac97f5a19a73ec7d38e70"
    "&networkId=1&tcpPort=22527",
    "udp://sp3.valdori.net:22527?publicKey=af51a367950dce1f57199208ea0014bd47a0f8cd2256083f68564c29579da6df"
    "&networkId=1&tcpPort=22527",
};

std::vector<SuperPeerUrl> parse_defaults() {
  std::vector<SuperPeerUrl> list;
  for (std::string_view text : kDefaultSuperPeers) {
    auto url = SuperPeerUrl::try_from(text);
    if (!url) {  // a broken built-in text is a programming error that the unit tests catch
      std::fprintf(stderr, "%s\n", display(url.error()).c_str());
      std::abort();
    }
    list.push_back(*url);
  }
  return list;
}

}  // namespace

const std::vector<SuperPeerUrl>& SUPER_PEERS_DEFAULT() {
  static const std::vector<SuperPeerUrl> list = parse_defaults();
  return list;
}

}  // namespace valdori::p2p
