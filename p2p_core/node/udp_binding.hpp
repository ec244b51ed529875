// One bound UDP socket of the node, with the token that stops its reader. Several bindings
// share a local address (SO_REUSEPORT), each read by a task of its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/error.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::p2p::node {

using UdpSocket = boost::asio::ip::udp::socket;
using SharedUdpSocket = std::shared_ptr<UdpSocket>;

class UdpBinding {
 public:
  // `token` is a child of the node token. Fails when the socket's local address cannot be read.
  static boost::system::result<std::shared_ptr<UdpBinding>, error::Error> create(util::CancellationToken token,
                                                                                 SharedUdpSocket socket,
                                                                                 std::string interface_name = {});

  const net::SocketAddr& local_addr() const { return local_addr_; }
  const SharedUdpSocket& socket() const { return socket_; }
  const util::CancellationToken& token() const { return token_; }
  const std::string& interface_name() const { return interface_name_; }

  // Stops this binding's reader; the node token and the other bindings go on.
  void cancel_binding() const { token_.cancel(); }

  UdpBinding(const util::CancellationToken& token, SharedUdpSocket socket, net::SocketAddr local_addr,
             std::string interface_name)
      : token_(token),
        socket_(std::move(socket)),
        local_addr_(std::move(local_addr)),
        interface_name_(std::move(interface_name)) {}

 private:
  util::CancellationToken token_;
  SharedUdpSocket socket_;
  net::SocketAddr local_addr_;
  std::string interface_name_;
};

using UdpBindings = std::vector<std::shared_ptr<UdpBinding>>;

}  // namespace valdori::p2p::node

// "udp://192.0.2.1:4000", with " (eth0)" when the address came from an interface (its name
// escaped: the system allows any byte in it but "/" and blanks).
template <>
struct fmt::formatter<valdori::p2p::node::UdpBinding> : fmt::formatter<std::string_view> {
  auto format(const valdori::p2p::node::UdpBinding& binding, fmt::format_context& ctx) const {
    const std::string text = binding.interface_name().empty()
                                 ? fmt::format("udp://{}", binding.local_addr())
                                 : fmt::format("udp://{} ({})", binding.local_addr(),
                                               valdori::util::text::escape_controls(binding.interface_name()));
    return fmt::formatter<std::string_view>::format(text, ctx);
  }
};
