#include "tools/super_peer/server/route.hpp"

#include <fmt/format.h>

#include "tools/super_peer/server/tcp_link.hpp"
#include "util/overloaded.hpp"

namespace valdori::super_peer {

std::string describe(const Route& route) {
  return std::visit(util::Overloaded{
                        [](const p2p::net::SocketAddr& endpoint) { return fmt::format("udp://{}", endpoint); },
                        [](const std::shared_ptr<TcpLink>& link) { return fmt::format("tcp://{}", link->remote()); },
                    },
                    route);
}

}  // namespace valdori::super_peer
