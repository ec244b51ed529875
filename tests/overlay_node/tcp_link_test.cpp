// The TCP fallback link against a stand-in super peer on loopback: the first frame, the
// published writer, frame dispatch with replies, and every way a link ends.
#include "overlay_node/node/tcp.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>

#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/frame_codec.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using log::Level;

class TcpLink : public NodeTaskTest {
 protected:
  void SetUp() override {
    token = util::CancellationToken();  // a case may have stopped the previous node
    server.reset();
    make_node();
    acceptor.emplace(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    acceptor->async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (!ec) server.emplace(std::move(socket));
    });
  }

  // Starts an attempt on `port` (the stand-in's by default) with a fresh link record.
  void connect(std::optional<std::uint16_t> port = std::nullopt) {
    link = super_peer->new_tcp_path(token);
    node::spawn_tcp_connector(fmt::format("127.0.0.1:{}", port ? *port : acceptor->local_endpoint().port()), link,
                              p2p::node::TcpPathGuard(node, super_id().pk(), link), super_peer->tx_key());
  }

  // Connects and waits until the link's writer is published.
  void establish() {
    connect();
    ASSERT_TRUE(run_until([&] { return server && link->stream(); }));
  }

  bool withdrawn() {
    return run_until([&] { return super_peer->tcp_connection() == nullptr; });
  }

  void send_raw(const Bytes& bytes) { asio::write(*server, asio::buffer(bytes)); }
  void send_frame(const Bytes& message) { send_raw(must(p2p::message::FrameCodec().encode(message))); }

  Bytes read_frame() {
    std::array<std::uint8_t, p2p::message::FrameCodec::kPrefixLen> prefix{};
    EXPECT_TRUE(run_until([&] { return server->available() >= prefix.size(); }));
    asio::read(*server, asio::buffer(prefix));
    const std::size_t length =
        std::size_t{prefix[0]} << 24 | std::size_t{prefix[1]} << 16 | std::size_t{prefix[2]} << 8 | prefix[3];
    Bytes message(length);
    EXPECT_TRUE(run_until([&] { return server->available() >= length; }));
    asio::read(*server, asio::buffer(message));
    return message;
  }

  // True once the node has shut the connection down.
  bool node_closed_connection() {
    server->non_blocking(true);
    return run_until([&] {
      std::array<std::uint8_t, 256> discarded{};
      boost::system::error_code ec;
      server->read_some(asio::buffer(discarded), ec);
      return ec && ec != asio::error::would_block;
    });
  }

  Bytes ack_from_super_peer(std::uint64_t hello_time) const {
    return must(p2p::message::AckMessage::build(kNetworkId, super_id().pk(), super_id().pow(), key_to_node(super_id()),
                                                self_id().pk(), hello_time));
  }

  std::optional<tcp::acceptor> acceptor;
  std::optional<tcp::socket> server;
  std::shared_ptr<p2p::peer::TcpConnection> link;
};

TEST_F(TcpLink, TheFirstFrameIsTheHelloStampedWithTheTimeAfterTheConnect) {
  connect();
  now += 250;            // the attempt has not run yet: its HELLO must not carry the time it was started at
  wall = now - 100'000;  // the HELLO carries the wall clock's time, the link records the interval clock's
  ASSERT_TRUE(run_until([&] { return server && link->stream(); }));

  Bytes first = read_frame();
  const auto parsed = must(p2p::message::LongHeader::parse(first));
  EXPECT_EQ(parsed.header.message_type(), p2p::message::MessageType::HELLO);
  EXPECT_EQ(parsed.header.recipient(), super_id().pk());
  const auto hello =
      must(p2p::message::HelloSuperPeerMessage::parse(parsed.body, parsed.header, key_from_node(super_id())));
  EXPECT_EQ(hello.time(), kStart + 250 - 100'000);
  EXPECT_EQ(link->path().inner()->hello, std::optional<std::uint64_t>(kStart + 250));
  EXPECT_TRUE(logs.has_containing(Level::trace, "immediately after connection establishment."));
}

TEST_F(TcpLink, FramesAreDispatchedAndTheirRepliesGoBackOverTheLink) {
  establish();
  read_frame();  // the HELLO

  // The super peer's ACK, and a HELLO from a node peer that the super peer relays: one write
  // holds the first frame and part of the second, the next write the rest.
  Bytes stream = must(p2p::message::FrameCodec().encode(ack_from_super_peer(now)));
  const Bytes relayed =
      must(p2p::message::FrameCodec().encode(hello_from(other_id(), now, p2p::message::ShortId::random())));
  const auto split = relayed.begin() + static_cast<std::ptrdiff_t>(relayed.size() / 2);
  stream.insert(stream.end(), relayed.begin(), split);
  send_raw(stream);
  ASSERT_TRUE(run_until([&] { return link->path().is_reachable(now, kHelloTimeout); }));
  send_raw(Bytes(split, relayed.end()));

  // The HELLO is answered the way it came.
  Bytes reply = read_frame();
  const auto parsed = must(p2p::message::LongHeader::parse(reply));
  EXPECT_EQ(parsed.header.message_type(), p2p::message::MessageType::ACK);
  EXPECT_EQ(parsed.header.recipient(), other_id().pk());
  EXPECT_TRUE(node->peers().find_node_peer(other_id().pk()));
}

TEST_F(TcpLink, FramesTheDispatcherRejectsAreDroppedAndTheLinkGoesOn) {
  establish();
  read_frame();
  Bytes foreign = hello_from(other_id(), now, p2p::message::ShortId::random());
  foreign[10] ^= 0xFF;  // the recipient's first byte
  Bytes stale = hello_from(other_id(), now - 2 * p2p::node_test::kHelloMaxAge, p2p::message::ShortId::random());
  send_raw({0, 0, 0, 0});  // an empty frame: no short id, like the short ones after it
  for (const Bytes& rejected : {Bytes{1}, Bytes{1, 2, 3}, foreign, stale}) send_frame(rejected);
  send_frame(hello_from(other_id(), now, p2p::message::ShortId::random()));

  Bytes reply = read_frame();
  EXPECT_EQ(must(p2p::message::LongHeader::parse(reply)).header.message_type(), p2p::message::MessageType::ACK);
  EXPECT_EQ(link->stream(), super_peer->tcp_connection()->stream());
  EXPECT_FALSE(link->token().is_cancelled());
  const auto warnings = logs.texts(Level::warn);
  EXPECT_EQ(std::ranges::count_if(warnings, [](const auto& t) { return t.starts_with("Error processing segment: "); }),
            5);
}

// A hostile node whose messages the super peer relays sends bad frames at link speed: their
// lines stay within the call site's limit, and the good frames among them are still answered.
TEST_F(TcpLink, ABurstOfRejectedFramesWritesBoundedLinesAndTheLinkGoesOn) {
  establish();
  read_frame();
  const auto started = std::chrono::steady_clock::now();
  constexpr int kGood = 5;
  constexpr int kBadPerGood = 200;
  Bytes stream;
  for (int good = 0; good < kGood; ++good) {
    for (int bad = 0; bad < kBadPerGood; ++bad) {
      const Bytes frame = must(p2p::message::FrameCodec().encode(Bytes{1, 2, 3}));
      stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const Bytes hello = must(p2p::message::FrameCodec().encode(
        hello_from(other_id(), now - kGood + good + 1, p2p::message::ShortId::random())));
    stream.insert(stream.end(), hello.begin(), hello.end());
  }
  send_raw(stream);

  for (int good = 0; good < kGood; ++good) {
    Bytes reply = read_frame();
    EXPECT_EQ(must(p2p::message::LongHeader::parse(reply)).header.message_type(), p2p::message::MessageType::ACK);
  }
  EXPECT_FALSE(link->token().is_cancelled());
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
  const auto lines = std::ranges::count_if(logs.texts(Level::warn),
                                           [](const auto& t) { return t.starts_with("Error processing segment: "); });
  EXPECT_GE(lines, 1);
  EXPECT_LE(lines, static_cast<std::ptrdiff_t>(log::RateLimit::kBurst) + seconds);
}

TEST_F(TcpLink, EveryWayALinkEndsWithdrawsItAndClosesTheConnection) {
  struct Case {
    const char* name;
    std::function<void()> end;
    std::string error;  // empty: the link ends without an ERROR
  };
  const Case cases[] = {
      {"closed between frames", [this] { server->shutdown(tcp::socket::shutdown_send); }, " addr=127.0.0.1:"},
      {"closed inside a frame",
       [this] {
         send_raw({0, 0, 0, 9, 1, 2});
         server->shutdown(tcp::socket::shutdown_send);
       },
       "Error receiving segment: bytes remaining on stream"},
      {"a frame longer than the limit",
       [this] {
         send_raw({0, 1, 0, 0});
       },
       "Error receiving segment: frame of 65536 bytes"},
      {"the link cancelled", [this] { link->cancel_connection(); }, ""},
      {"the node stopped", [this] { token.cancel(); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    establish();
    read_frame();
    logs.clear();

    c.end();
    EXPECT_TRUE(withdrawn());
    EXPECT_TRUE(node_closed_connection());
    if (c.error.empty()) {
      EXPECT_TRUE(logs.texts(Level::err).empty());
    } else {
      EXPECT_TRUE(logs.has_containing(Level::err, c.error));
    }
  }
}

TEST_F(TcpLink, AFailedConnectIsLoggedAndWithdrawsTheAttempt) {
  const std::uint16_t closed_port = acceptor->local_endpoint().port();
  acceptor.reset();  // nothing listens there any more
  connect(closed_port);
  EXPECT_TRUE(withdrawn());
  EXPECT_TRUE(logs.has_containing(Level::warn,
                                  fmt::format("Failed to connect to super peer tcp://127.0.0.1:{}: ", closed_port)));
}

TEST_F(TcpLink, AConnectThatHangsEndsAtItsLimit) {
  // A listener whose queue is full drops further connection requests: their connects hang.
  tcp::acceptor full(io);
  const tcp::endpoint listening(asio::ip::make_address("127.0.0.1"), 0);
  full.open(listening.protocol());
  full.bind(listening);
  full.listen(0);
  std::vector<tcp::socket> queued;
  for (int i = 0; i < 3; ++i) {
    queued.emplace_back(io).async_connect(full.local_endpoint(), [](boost::system::error_code) {});
  }
  run_until([] { return false; }, std::chrono::milliseconds(200));

  link = super_peer->new_tcp_path(token);
  const std::string addr = fmt::format("127.0.0.1:{}", full.local_endpoint().port());
  asio::co_spawn(asio::make_strand(io),
                 node::tcp_connector(addr, link, p2p::node::TcpPathGuard(node, super_id().pk(), link),
                                     super_peer->tx_key(), std::chrono::milliseconds(300)),
                 asio::detached);
  EXPECT_TRUE(withdrawn());
  EXPECT_TRUE(logs.has_containing(Level::warn, fmt::format("Failed to connect to super peer tcp://{}: {}", addr,
                                                           std::make_error_code(std::errc::timed_out).message())))
      << fmt::format("{}", fmt::join(logs.texts(Level::warn), "\n"));
}

}  // namespace
}  // namespace valdori::node_test
