// The super-peer rules: paths from resolved addresses, invalid paths, the TCP decision and the
// link record.
#include <gtest/gtest.h>

#include "p2p_core/peer/super_peer.hpp"
#include "tests/p2p_core/node/node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

const net::SocketAddr kLocal = addr("127.0.0.1", 4000);

std::shared_ptr<peer::SuperPeer> make_super_peer(std::optional<peer::ResolvedAddrs> resolved = peer::ResolvedAddrs{
                                                     kSuperPeerAddr}) {
  auto super_peer = std::make_shared<peer::SuperPeer>(super_peer_url(super_id().pk(), kSuperPeerAddr), std::nullopt,
                                                      std::move(resolved));
  super_peer->add_paths_for_resolved_addrs({binding_at(kLocal)});
  return super_peer;
}

TEST(SuperPeerRules, PathsPairEveryBindingWithTheResolvedAddressesItReaches) {
  auto super_peer = make_super_peer(peer::ResolvedAddrs{kSuperPeerAddr, addr("192.0.2.1", 9), addr("::1", 9)});
  EXPECT_EQ(super_peer->udp_paths().size(), 1u);
  EXPECT_TRUE(super_peer->udp_paths().find({kLocal, kSuperPeerAddr}));

  const auto path = *super_peer->udp_paths().find({kLocal, kSuperPeerAddr});
  path->hello_tx(kStart, us(kStart));
  super_peer->add_paths_for_resolved_addrs({binding_at(kLocal)});
  EXPECT_EQ(*super_peer->udp_paths().find({kLocal, kSuperPeerAddr}), path);  // kept with its record
}

TEST(SuperPeerRules, InvalidPathsAreThoseToAddressesNoLongerResolvedAndUnreachable) {
  const auto moved = addr("127.0.0.2", 9);
  const auto moved_but_answering = addr("127.0.0.3", 9);
  auto super_peer = make_super_peer(peer::ResolvedAddrs{kSuperPeerAddr, moved, moved_but_answering});
  (*super_peer->udp_paths().find({kLocal, kSuperPeerAddr}))
      ->hello_tx(kStart, us(kStart));  // unanswered, still resolved
  const std::uint64_t later = kStart + kHelloTimeout + 1;
  (*super_peer->udp_paths().find({kLocal, moved_but_answering}))->ack_rx(us(later), later - 1, moved_but_answering);
  super_peer->update_resolved_addrs({kSuperPeerAddr});

  const auto removed = super_peer->remove_invalid_udp_paths(later, kHelloTimeout);
  EXPECT_EQ(removed, (std::vector<peer::PeerPathKey>{{kLocal, moved}}));
  EXPECT_EQ(super_peer->udp_paths().size(), 2u);
}

TEST(SuperPeerRules, TcpIsOpenedOnceUdpHasFailed) {
  enum class PathState { None, NotGreeted, Greeted, Overdue, Reachable };
  struct Case {
    const char* name;
    PathState path;
    bool enforce;
    bool link_exists;
    bool open;
  };
  const Case cases[] = {
      {"no UDP path at all", PathState::None, false, false, true},
      {"path not greeted yet", PathState::NotGreeted, false, false, false},
      {"HELLO still within the timeout", PathState::Greeted, false, false, false},
      {"HELLO overdue", PathState::Overdue, false, false, true},
      {"UDP failed, link record exists", PathState::Overdue, false, true, false},
  };
  const std::uint64_t now = kStart + kHelloTimeout;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto super_peer =
        make_super_peer(c.path == PathState::None ? peer::ResolvedAddrs{} : peer::ResolvedAddrs{kSuperPeerAddr});
    const auto path = super_peer->udp_paths().find({kLocal, kSuperPeerAddr}).value_or(nullptr);
    if (c.path == PathState::Greeted) path->hello_tx(now - kHelloTimeout, us(now - kHelloTimeout));
    if (c.path == PathState::Overdue) path->hello_tx(now - kHelloTimeout - 1, us(now - kHelloTimeout - 1));
    if (c.path == PathState::Reachable) path->ack_rx(us(now), now - 1, kSuperPeerAddr);
    if (c.link_exists) super_peer->new_tcp_path(util::CancellationToken());
    EXPECT_EQ(super_peer->establish_tcp_connection(now, kHelloTimeout, c.enforce), c.open);
  }
}

TEST(SuperPeerRules, ReleasingAnOldLinkRecordKeepsTheCurrentOne) {
  auto super_peer = make_super_peer();
  const util::CancellationToken node_token;
  const auto old_record = super_peer->new_tcp_path(node_token);
  const auto current = super_peer->new_tcp_path(node_token);
  super_peer->release_tcp_path(old_record);
  EXPECT_EQ(super_peer->tcp_connection(), current);
  super_peer->release_tcp_path(current);
  EXPECT_FALSE(super_peer->tcp_connection());
  node_token.cancel();
  EXPECT_TRUE(current->token().is_cancelled());  // link tokens are children of the node token
}

TEST(SuperPeerRules, ReachableOverAPublishedAnsweredLink) {
  auto super_peer = make_super_peer();
  const auto link = super_peer->new_tcp_path(util::CancellationToken());
  link->path().ack_rx(us(kStart), kStart, kSuperPeerAddr);
  EXPECT_FALSE(super_peer->is_reachable(kStart, kHelloTimeout));  // not published yet
  link->set_stream(std::make_shared<IdleLinkWriter>());
  EXPECT_TRUE(super_peer->is_reachable(kStart, kHelloTimeout));
  link->cancel_connection();
  EXPECT_FALSE(link->stream());
  EXPECT_TRUE(link->token().is_cancelled());
  EXPECT_FALSE(super_peer->is_reachable(kStart, kHelloTimeout));
}

TEST(SuperPeerRules, BestUdpPathIsOfferedEvenUnanswered) {
  const auto super_peer = make_super_peer();
  EXPECT_EQ(super_peer->best_udp_path_key(kStart, kHelloTimeout), (peer::PeerPathKey{kLocal, kSuperPeerAddr}));
}

}  // namespace
}  // namespace valdori::p2p::node_test
