// The UDP reader on a loopback binding: bad datagrams are logged and reading goes on, replies go
// out in order whatever fails, and a cancelled binding ends its reader.
#include "overlay_node/node/udp.hpp"

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <boost/asio/buffer.hpp>

#include "overlay_node/node/dispatch.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;

class UdpReader : public NodeTaskTest {
 protected:
  void SetUp() override {
    make_node();
    node::spawn_udp_reader(node, binding);
  }

  void send_from(boost::asio::ip::udp::socket& from, const Bytes& datagram) {
    from.send_to(boost::asio::buffer(datagram), binding->local_addr());
  }

  // The reader still reads: a HELLO gets its ACK back.
  void expect_answered(boost::asio::ip::udp::socket& from) {
    send_from(from, hello_from(other_id(), now, p2p::message::ShortId::random()));
    std::vector<Bytes> answers;
    const auto sent = fmt::format("Sent msg to udp://{}.", from.local_endpoint());
    ASSERT_TRUE(run_until([&] {
      for (auto& answer : received(from)) answers.push_back(std::move(answer));
      return !answers.empty() && logs.has(Level::trace, sent);
    }));
    auto& ack = answers.front();
    EXPECT_EQ(must(p2p::message::LongHeader::parse(ack)).header.message_type(), p2p::message::MessageType::ACK);
  }
};

struct BadDatagram {
  std::string name;
  std::size_t length;
  std::string warning;  // the start of the one WARN line it gives
};

class UdpReaderBadDatagram : public UdpReader, public ::testing::WithParamInterface<BadDatagram> {};

TEST_P(UdpReaderBadDatagram, IsLoggedAndReadingGoesOn) {
  auto remote = remote_socket();
  send_from(remote, Bytes(GetParam().length, 0x5A));
  ASSERT_TRUE(run_until([&] { return !logs.texts(Level::warn).empty(); }));
  const auto warnings = logs.texts(Level::warn);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(warnings[0].starts_with(GetParam().warning)) << warnings[0];
  expect_answered(remote);
  EXPECT_TRUE(sink->messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, UdpReaderBadDatagram,
                         ::testing::Values(BadDatagram{"Empty", 0, "Error processing packet: "},
                                           BadDatagram{"ShorterThanAShortId", 3, "Error processing packet: "},
                                           BadDatagram{"NoMessage", 200, "Error processing packet: "},
                                           BadDatagram{"LongerThanTheMaximum", p2p::message::kDefaultMaxMessageLen + 1,
                                                       "Dropped datagram from udp://127.0.0.1:"}),
                         [](const ::testing::TestParamInfo<BadDatagram>& param) { return param.param.name; });

TEST_F(UdpReader, RepliesGoOutUdpFirstAndAFailedOneStopsNoOther) {
  auto remote = remote_socket();
  const auto writer = std::make_shared<RecordingLinkWriter>();
  const auto unsendable = addr("::1", 9);
  node::Replies replies;
  replies.udp.push_back({Bytes(20, 1), unsendable, binding->socket()});
  replies.udp.push_back({Bytes(20, 2), remote.local_endpoint(), binding->socket()});
  replies.tcp.push_back({Bytes(20, 3), writer, super_id().pk()});
  run([&]() -> boost::asio::awaitable<bool> {
    co_await node::send_replies(*node, std::move(replies));
    co_return true;
  }());

  EXPECT_EQ(received(remote), std::vector<Bytes>{Bytes(20, 2)});
  EXPECT_EQ(writer->frames(), std::vector<Bytes>{Bytes(20, 3)});
  EXPECT_TRUE(logs.has_containing(Level::debug, fmt::format("Failed to send msg to udp://{}: ", unsendable)));
  const auto traces = logs.texts(Level::trace);
  const auto udp_sent = std::ranges::find(traces, fmt::format("Sent msg to udp://{}.", remote.local_endpoint()));
  const auto tcp_sent = std::ranges::find(traces, fmt::format("Sent msg to {} via TCP", super_id().pk()));
  ASSERT_NE(udp_sent, traces.end());
  ASSERT_NE(tcp_sent, traces.end());
  EXPECT_LT(udp_sent, tcp_sent);
}

}  // namespace
}  // namespace valdori::node_test
