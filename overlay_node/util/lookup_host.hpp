// Resolving a super peer's "host:port" text to the socket addresses the node may use.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/peer/error.hpp"

namespace valdori::peer {

inline constexpr std::chrono::milliseconds kLookupLimit{5000};

// Resolves a host name and port to addresses, or fails with the resolver's complaint.
using HostResolver =
    std::function<boost::asio::awaitable<boost::system::result<std::vector<p2p::net::SocketAddr>, std::string>>(
        std::string host, std::uint16_t port)>;

// The system's name servers and hosts file, through c-ares (ares_resolver.hpp).
HostResolver system_resolver();

// "host:port", "[v6]:port" or a literal socket address. A literal address needs no lookup. The
// lookup is bounded by `limit`; one that runs over it is left to finish in the background and its
// answer is dropped. Fails with SuperPeerLookupFailed, SuperPeerResolveTimeout or
// SuperPeerResolveEmpty.
boost::asio::awaitable<boost::system::result<std::vector<p2p::net::SocketAddr>, p2p::peer::error::Error>> lookup_host(
    std::string addr, HostResolver resolver = system_resolver(), std::chrono::milliseconds limit = kLookupLimit);

}  // namespace valdori::peer
