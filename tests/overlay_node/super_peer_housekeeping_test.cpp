// The housekeeping step of one super peer: opening and closing the TCP fallback, and the HELLO
// over every UDP path and the published link.
#include "overlay_node/peer/super_peer_housekeeping.hpp"

#include <gtest/gtest.h>

#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;

constexpr const char* kStillRequired = "TCP connection still required as no reachable UDP path has become available.";
constexpr const char* kNoLongerRequired =
    "TCP connection not longer required as a reachable UDP path has become available.";

class SuperPeerHousekeeping : public NodeTaskTest {
 protected:
  boost::system::result<void, p2p::node::error::Error> step() {
    return run(peer::super_peer_housekeeping(node, super_peer, now, candidates));
  }

  std::shared_ptr<p2p::peer::PeerPath> udp_path() const {
    return *super_peer->udp_paths().find({binding->local_addr(), p2p::node_test::kSuperPeerAddr});
  }

  const Bytes candidates = p2p::message::encode_endpoints(std::vector{addr("192.0.2.1", 4000)});
};

TEST_F(SuperPeerHousekeeping, TheTcpLinkOpensWhenUdpFailedOrTcpIsEnforcedAndClosesOnlyWhenUdpAnswers) {
  // SilentAcrossAStep: answered, then unanswered past the timeout while the wall clock stepped
  // back as far, so that the last answer looks recent to it. AnsweredBeforeASuspend: answered,
  // then both clocks an hour on, as after a resume.
  enum class Udp { Fresh, Unanswered, Reachable, SilentAcrossAStep, AnsweredBeforeASuspend };
  struct Case {
    const char* name;
    bool enforce_tcp;
    Udp udp;
    bool link_before;
    bool opens;                // a connection attempt is started
    const char* closing_line;  // nullptr: step 5 logs nothing
    bool link_cancelled;
  };
  const Case cases[] = {
      {"UDP still trying", false, Udp::Fresh, false, false, nullptr, false},
      {"UDP unanswered past the timeout", false, Udp::Unanswered, false, true, kStillRequired, false},
      {"enforced", true, Udp::Reachable, false, true, nullptr, false},
      {"link while UDP answers", false, Udp::Reachable, true, false, kNoLongerRequired, true},
      {"link while UDP is silent", false, Udp::Unanswered, true, false, kStillRequired, false},
      {"link while UDP is silent, the wall clock stepped back", false, Udp::SilentAcrossAStep, true, false,
       kStillRequired, false},
      {"enforced link while UDP answers", true, Udp::Reachable, true, false, nullptr, false},
      {"UDP answered before an hour's suspend", false, Udp::AnsweredBeforeASuspend, false, true, kStillRequired, false},
      {"link while UDP answered before an hour's suspend", false, Udp::AnsweredBeforeASuspend, true, false,
       kStillRequired, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    now = kStart;
    wall = 0;
    make_node({.enforce_tcp = c.enforce_tcp});
    if (c.udp == Udp::SilentAcrossAStep || c.udp == Udp::AnsweredBeforeASuspend)
      udp_path()->ack_rx(p2p::node_test::us(now), now - 1, p2p::node_test::kSuperPeerAddr);
    if (c.udp == Udp::AnsweredBeforeASuspend) now += 3'600'000;
    if (c.udp == Udp::Unanswered || c.udp == Udp::SilentAcrossAStep) {
      udp_path()->hello_tx(now, p2p::node_test::us(now));
      now += kHelloTimeout + 1;
    }
    if (c.udp == Udp::SilentAcrossAStep) wall = kStart;
    if (c.udp == Udp::Reachable) udp_path()->ack_rx(p2p::node_test::us(now), now - 1, p2p::node_test::kSuperPeerAddr);
    const auto link_before = c.link_before ? super_peer->new_tcp_path(token) : nullptr;
    logs.clear();

    ASSERT_TRUE(step());
    EXPECT_EQ(logs.has_containing(Level::trace, "Establish TCP connection"), c.opens);
    if (c.opens) {
      // Nothing listens on the super peer's TCP port: the attempt fails and withdraws its record.
      EXPECT_TRUE(
          run_until([&] { return logs.has_containing(Level::warn, "Failed to connect to super peer tcp://"); }));
      EXPECT_TRUE(run_until([&] { return super_peer->tcp_connection() == nullptr; }));
    }
    EXPECT_EQ(logs.has_containing(Level::trace, kNoLongerRequired), c.closing_line == kNoLongerRequired);
    EXPECT_EQ(logs.has_containing(Level::trace, kStillRequired), c.closing_line == kStillRequired);
    if (link_before) {
      EXPECT_EQ(link_before->token().is_cancelled(), c.link_cancelled);
    }
  }
}

TEST_F(SuperPeerHousekeeping, OneHelloGoesOverEveryUdpPathAndThePublishedLink) {
  make_node({.enforce_tcp = true});  // so that the answering UDP path does not close the link
  auto remote = remote_socket();
  // A second path, to an address the super peer answered from; answered paths stay.
  const p2p::peer::PeerPathKey second{binding->local_addr(), remote.local_endpoint()};
  const auto second_path =
      *super_peer->udp_paths().get_or_insert(second, [] { return std::make_shared<p2p::peer::PeerPath>(); }).first;
  second_path->ack_rx(p2p::node_test::us(now), now - 1, remote.local_endpoint());
  const auto writer = std::make_shared<RecordingLinkWriter>();
  const auto link = super_peer->new_tcp_path(token);
  link->set_stream(writer);
  wall = now - 20'000;  // the wall clock stepped back

  ASSERT_TRUE(step());
  const auto datagrams = received(remote);
  ASSERT_EQ(datagrams.size(), 1u);
  ASSERT_EQ(writer->frames().size(), 1u);
  EXPECT_NE(writer->frames().front(), datagrams.front());  // each HELLO with a time of its own

  Bytes hello = datagrams.front();
  auto parsed = must(p2p::message::LongHeader::parse(hello));
  EXPECT_EQ(parsed.header.recipient(), super_id().pk());
  const auto body =
      must(p2p::message::HelloSuperPeerMessage::parse(parsed.body, parsed.header, key_from_node(super_id())));
  EXPECT_GE(body.time(), wall.load());  // the wall clock's time, for the super peer to compare
  EXPECT_LT(body.time(), now.load());
  EXPECT_EQ(std::vector(body.endpoints().begin(), body.endpoints().end()), std::vector{addr("192.0.2.1", 4000)});
  // Stamped with the interval clock's time, which its timeout is measured on.
  const auto stamped = udp_path()->inner()->hello;
  ASSERT_TRUE(stamped);
  EXPECT_EQ(*stamped, now.load());
  // The link records when its HELLO left, so that the ACK measures the link.
  Bytes link_hello = writer->frames().front();
  auto link_parsed = must(p2p::message::LongHeader::parse(link_hello));
  const auto link_time =
      must(p2p::message::HelloSuperPeerMessage::parse(link_parsed.body, link_parsed.header, key_from_node(super_id())))
          .time();
  ASSERT_FALSE(link->path().inner()->sent_hellos.empty());
  EXPECT_EQ(link->path().inner()->sent_hellos.back().time, link_time);
  EXPECT_EQ(link->path().inner()->sent_hellos.back().left_us, p2p::node_test::us(now));
  EXPECT_TRUE(logs.has_containing(Level::trace, "UDP send successful"));
  EXPECT_TRUE(logs.has_containing(Level::trace, "TCP path present. Send HELLO via TCP"));
}

TEST_F(SuperPeerHousekeeping, APathWhoseSocketIsGoneIsNeitherGreetedNorStamped) {
  make_node();
  binding->cancel_binding();        // still listed, but no longer sends
  super_peer->new_tcp_path(token);  // an attempt under way: no writer published yet

  ASSERT_TRUE(step());
  EXPECT_TRUE(logs.has_containing(Level::warn, "No UDP socket found"));
  EXPECT_FALSE(udp_path()->inner()->hello);
  EXPECT_TRUE(logs.has_containing(Level::trace, "No TCP path present. Do not send HELLO via TCP"));
}

}  // namespace
}  // namespace valdori::node_test
