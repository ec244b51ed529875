// The super-peer link writer on a loopback connection: whole frames in arrival order, the
// deadline on a stalled link, and which link a failed write ends.
#include "overlay_node/node/link_writer.hpp"

#include <array>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>

#include "p2p_core/message/frame_codec.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using log::Level;

constexpr std::chrono::milliseconds kShortDeadline{100};

class LinkWriter : public NodeTaskTest {
 protected:
  // A connection to a server socket of the test; the writer writes on a duplicate of the
  // client's descriptor, which the test keeps as the reader's.
  void connect(std::chrono::milliseconds deadline = node::kLinkWriteDeadline, bool small_buffers = false) {
    make_node();
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    if (small_buffers) acceptor.set_option(asio::socket_base::receive_buffer_size(1024));
    client.emplace(io);
    client->open(tcp::v4());
    if (small_buffers) client->set_option(asio::socket_base::send_buffer_size(1024));
    client->connect(acceptor.local_endpoint());
    server.emplace(acceptor.accept());
    writer = must(node::StreamLinkWriter::for_connection(*client, node->tcp_codec(), deadline));
  }

  Bytes read_frame() {
    std::array<std::uint8_t, p2p::message::FrameCodec::kPrefixLen> prefix{};
    asio::read(*server, asio::buffer(prefix));
    Bytes message(std::size_t{prefix[2]} << 8 | prefix[3]);
    asio::read(*server, asio::buffer(message));
    return message;
  }

  void send(Bytes message, std::shared_ptr<p2p::peer::LinkWriter> via) {
    run([&]() -> asio::awaitable<bool> {
      co_await node::send_super_peer_tcp(*node, std::move(message), std::move(via), super_id().pk());
      co_return true;
    }());
  }

  std::optional<tcp::socket> client;
  std::optional<tcp::socket> server;
  std::shared_ptr<node::StreamLinkWriter> writer;
};

TEST_F(LinkWriter, ConcurrentSendsGoOutAsWholeFramesInTheOrderTheyCame) {
  connect();
  std::vector<Bytes> messages;
  for (std::uint8_t i = 0; i < 20; ++i) messages.emplace_back(1000 + i, i);
  int done = 0;
  for (const auto& message : messages) {
    asio::co_spawn(io, node::send_super_peer_tcp(*node, message, writer, super_id().pk()),
                   [&](std::exception_ptr, bool) { ++done; });
  }
  ASSERT_TRUE(run_until([&] { return done == 20; }));
  for (const auto& message : messages) EXPECT_EQ(read_frame(), message);
  EXPECT_TRUE(logs.texts(Level::err).empty());
}

TEST_F(LinkWriter, AMessageLongerThanAFrameIsNotSentAndEndsItsLink) {
  connect();
  const auto link = super_peer->new_tcp_path(token);
  link->set_stream(writer);
  send(Bytes(node->max_message_len() + 1, 7), writer);
  EXPECT_TRUE(logs.has_containing(Level::err, "Failed to send message to super peer via TCP, shutting it down: "));
  EXPECT_TRUE(link->token().is_cancelled());
  EXPECT_FALSE(link->stream());

  const Bytes next(100, 8);
  ASSERT_TRUE(run(writer->write_frame(next)) == std::error_code());
  EXPECT_EQ(read_frame(), next);  // nothing of the refused message went out
}

// A write failure cancels only the link whose published writer failed.
TEST_F(LinkWriter, AFailedWriteLeavesANewerLinkAlone) {
  make_node();
  const auto failing = std::make_shared<RecordingLinkWriter>(std::make_error_code(std::errc::broken_pipe));
  send(Bytes(10, 1), failing);  // no link at all
  EXPECT_EQ(logs.texts(Level::err).size(), 1u);

  const auto newer = super_peer->new_tcp_path(token);
  newer->set_stream(std::make_shared<RecordingLinkWriter>());
  send(Bytes(10, 1), failing);
  EXPECT_EQ(logs.texts(Level::err).size(), 2u);
  EXPECT_FALSE(newer->token().is_cancelled());
  EXPECT_TRUE(newer->stream());
}

TEST_F(LinkWriter, AStalledLinkFailsAtTheDeadlineAndEveryLaterWriteAtOnce) {
  connect(kShortDeadline, true);
  std::error_code failure;
  for (int i = 0; i < 100000 && !failure; ++i) failure = run(writer->write_frame(Bytes(1200, 9)));
  EXPECT_EQ(failure, std::make_error_code(std::errc::timed_out));
  EXPECT_EQ(run(writer->write_frame(Bytes(10, 9))), failure);
}

}  // namespace
}  // namespace valdori::node_test
