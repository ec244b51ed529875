#include "p2p_core/node/udp_binding.hpp"

namespace valdori::p2p::node {

boost::system::result<std::shared_ptr<UdpBinding>, error::Error> UdpBinding::create(util::CancellationToken token,
                                                                                    SharedUdpSocket socket,
                                                                                    std::string interface_name) {
  boost::system::error_code ec;
  const auto local_addr = socket->local_endpoint(ec);
  if (ec) return error::UdpLocalAddrError{std::error_code(ec)};
  return std::make_shared<UdpBinding>(std::move(token), std::move(socket), local_addr, std::move(interface_name));
}

}  // namespace valdori::p2p::node
