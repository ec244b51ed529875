#include "tests/tools/super_peer/harness.hpp"

#include <poll.h>
#include <sched.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "p2p_core/crypto/key_conversion.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/message/frame_codec.hpp"
#include "p2p_core/message/long_header.hpp"

namespace valdori::super_peer::testing {
namespace {

namespace asio = boost::asio;
namespace msg = p2p::message;

bool wait_readable(int fd, std::chrono::milliseconds limit) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(limit.count())) > 0;
}

msg::ParsedLongHeader parse_header(Bytes& message, msg::MessageType expected) {
  auto parsed = must(msg::LongHeader::parse(message));
  if (parsed.header.message_type() != expected) throw std::runtime_error("unexpected message type");
  return parsed;
}

}  // namespace

p2p::Identity test_identity() { return must(p2p::Identity::generate(kTestDifficulty)); }

p2p::crypto::SessionKeys session_keys(const p2p::Identity& own, const p2p::PubKey& peer) {
  return must(p2p::crypto::compute_kx_session_keys(must(p2p::crypto::convert_ed25519_pk_to_curve25519_pk(own.pk())),
                                                   must(p2p::crypto::convert_ed25519_sk_to_curve25519_sk(own.sk())),
                                                   must(p2p::crypto::convert_ed25519_pk_to_curve25519_pk(peer))));
}

NodeSide::NodeSide(const p2p::Identity& identity, const p2p::SuperPeerUrl& super_peer)
    : identity_(identity), super_peer_(super_peer), super_peer_keys_(session_keys(identity, super_peer.pk())) {}

Bytes NodeSide::hello(std::uint64_t time, std::span<const SocketAddr> candidates, bool armed) const {
  const auto key = armed ? std::optional(super_peer_keys_.tx) : std::nullopt;
  return must(msg::HelloSuperPeerMessage::build(super_peer_.network_id_bytes(), pk(), identity_.pow(), key,
                                                super_peer_.pk(), time, msg::encode_endpoints(candidates)));
}

Bytes NodeSide::app_to(const p2p::PubKey& peer, std::span<const std::uint8_t> payload) const {
  return must(msg::AppMessage::build(super_peer_.network_id_bytes(), pk(), identity_.pow(),
                                     session_keys(identity_, peer).tx, peer, payload));
}

std::uint64_t NodeSide::ack_time(Bytes message, bool armed) const {
  auto parsed = parse_header(message, msg::MessageType::ACK);
  EXPECT_EQ(parsed.header.sender(), super_peer_.pk());
  EXPECT_EQ(parsed.header.armed(), armed);
  const auto key = armed ? std::optional(super_peer_keys_.rx) : std::nullopt;
  return must(msg::AckMessage::parse(parsed.body, parsed.header, key)).time();
}

std::pair<p2p::PubKey, std::vector<SocketAddr>> NodeSide::unite(Bytes message) const {
  auto parsed = parse_header(message, msg::MessageType::UNITE);
  EXPECT_EQ(parsed.header.sender(), super_peer_.pk());
  EXPECT_EQ(parsed.header.recipient(), pk());
  auto unite = must(msg::UniteMessage::parse(parsed.body, parsed.header, super_peer_keys_.rx));
  return {unite.peer(), {unite.endpoints().begin(), unite.endpoints().end()}};
}

Bytes NodeSide::app_from(const p2p::PubKey& peer, Bytes message) const {
  auto parsed = parse_header(message, msg::MessageType::APP);
  EXPECT_EQ(parsed.header.sender(), peer);
  EXPECT_EQ(parsed.header.recipient(), pk());
  EXPECT_EQ(parsed.header.hop_count(), 1);
  auto app = must(msg::AppMessage::parse(parsed.body, parsed.header, session_keys(identity_, peer).rx));
  return {app.payload().begin(), app.payload().end()};
}

UdpNode::UdpNode(asio::io_context& io, const p2p::SuperPeerUrl& super_peer, const p2p::Identity& identity)
    : NodeSide(identity, super_peer),
      socket_(io, SocketAddr(asio::ip::address_v4::loopback(), 0)),
      super_peer_endpoint_(asio::ip::make_address(super_peer.host()), super_peer.port()) {}

void UdpNode::send(std::span<const std::uint8_t> message) {
  socket_.send_to(asio::buffer(message.data(), message.size()), super_peer_endpoint_);
}

std::optional<Bytes> UdpNode::receive(std::chrono::milliseconds limit) {
  if (!wait_readable(socket_.native_handle(), limit)) return std::nullopt;
  Bytes buffer(msg::kDefaultMaxMessageLen + 1);
  SocketAddr source;
  buffer.resize(socket_.receive_from(asio::buffer(buffer), source));
  EXPECT_EQ(source, super_peer_endpoint_);
  return buffer;
}

TcpNode::TcpNode(asio::io_context& io, const p2p::SuperPeerUrl& super_peer,
                 std::optional<boost::asio::ip::address> local)
    : NodeSide(test_identity(), super_peer), socket_(io) {
  const asio::ip::tcp::endpoint remote(asio::ip::make_address(super_peer.host()), super_peer.tcp_port());
  socket_.open(remote.protocol());
  if (local) socket_.bind({*local, 0});
  socket_.connect(remote);
  socket_.set_option(asio::ip::tcp::no_delay(true));  // tests send frames back to back
}

void TcpNode::send(std::span<const std::uint8_t> message) { send_raw(must(msg::FrameCodec().encode(message))); }

void TcpNode::send_raw(std::span<const std::uint8_t> bytes) {
  asio::write(socket_, asio::buffer(bytes.data(), bytes.size()));
}

bool TcpNode::try_send(std::span<const std::uint8_t> message) {
  const auto frame = must(msg::FrameCodec().encode(message));
  boost::system::error_code ec;
  asio::write(socket_, asio::buffer(frame), ec);
  return !ec;
}

std::optional<Bytes> TcpNode::receive(std::chrono::milliseconds limit) {
  std::array<std::uint8_t, msg::FrameCodec::kPrefixLen> prefix;
  if (!read_exactly(prefix, limit)) return std::nullopt;
  const auto len =
      std::size_t{prefix[0]} << 24 | std::size_t{prefix[1]} << 16 | std::size_t{prefix[2]} << 8 | prefix[3];
  Bytes message(len);
  if (!read_exactly(message, limit)) return std::nullopt;
  return message;
}

bool TcpNode::closed_by_super_peer(std::chrono::milliseconds limit) {
  std::array<std::uint8_t, 1> byte;
  return !read_exactly(byte, limit) && ended_;
}

bool TcpNode::read_exactly(std::span<std::uint8_t> out, std::chrono::milliseconds limit) {
  std::size_t done = 0;
  while (done < out.size()) {
    if (!wait_readable(socket_.native_handle(), limit)) return false;
    boost::system::error_code ec;
    done += socket_.read_some(asio::buffer(out.data() + done, out.size() - done), ec);
    if (ec) {
      ended_ = true;
      return false;
    }
  }
  return true;
}

bool in_new_network_namespace(const std::function<void()>& body) {
  bool made = false;
  // Namespaces belong to threads: the test's own threads stay where they are, while the sockets
  // opened here keep the new namespace for their whole life.
  std::thread([&] {
    made = ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
    if (made) body();
  }).join();
  return made;
}

SuperPeerOptions SuperPeerTest::default_options() {
  SuperPeerOptions options;
  options.network_id = kNetworkId;
  options.min_pow_difficulty = kTestDifficulty;
  return options;
}

void SuperPeerTest::start(const SuperPeerOptions& options) {
  super_peer_ = must(SuperPeer::start(runtime_.executor(), test_identity(), options));
}

}  // namespace valdori::super_peer::testing
