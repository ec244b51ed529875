// Room in the peers table: members of the node's networks are always admitted, strangers get a
// bounded share and are evicted first.
#include <gtest/gtest.h>

#include "node_fixture.hpp"
#include "p2p_core/message/control_messages.hpp"

namespace valdori::p2p::node_test {
namespace {

PubKey numbered_key(std::uint32_t n) {
  PubKey::Bytes bytes{};
  bytes.fill(0xA5);
  std::memcpy(bytes.data(), &n, sizeof n);
  return PubKey(bytes);
}

class NodeMembers : public NodeFixture {
 protected:
  // Unarmed, with any proof of work: any key may play a peer.
  void make_node_with_limit(std::uint64_t max_peers) {
    make_node({.arm_messages = false, .max_peers = max_peers, .min_pow_difficulty = 0});
  }

  // Admits `key` as the dispatcher does; the error kind's debug form on refusal.
  std::string admit(const PubKey& key) {
    const Received hello(must(message::HelloNodePeerMessage::build(kNetworkId, key, Pow(0), std::nullopt,
                                                                   self_id().pk(), now, message::ShortId::random())));
    auto candidate = node->node_peer_candidate(hello.header(), kOtherSource);
    if (!candidate) return node::error::debug(candidate.error());
    const auto stored = node->store_node_peer(*candidate);
    return stored ? "stored" : node::error::debug(stored.error());
  }

  void set_members(std::uint32_t first, std::uint32_t count) {
    auto members = std::make_shared<node::MemberKeys>();
    for (std::uint32_t n = first; n < first + count; ++n) members->insert(numbered_key(n));
    node->set_members(std::move(members));
  }
};

constexpr std::uint32_t kStranger = 1000;

TEST_F(NodeMembers, StrangersGetAQuarterAndAreEvictedForMembersWhoAreAlwaysAdmitted) {
  make_node_with_limit(8);  // the super peer, then room for 7; strangers get 2
  set_members(0, 10);
  EXPECT_EQ(admit(numbered_key(kStranger)), "stored");
  EXPECT_EQ(admit(numbered_key(kStranger + 1)), "stored");
  EXPECT_EQ(admit(numbered_key(kStranger + 2)), "PeersListCapacityExceeded(2)");
  EXPECT_EQ(node->stranger_count(), 2u);

  for (std::uint32_t n = 0; n < 5; ++n) ASSERT_EQ(admit(numbered_key(n)), "stored");  // full: 1 + 2 + 5
  now += 10;
  node->peers().find_node_peer(numbered_key(kStranger))->heard(now);
  EXPECT_EQ(admit(numbered_key(5)), "stored");
  EXPECT_FALSE(node->peers().find(numbered_key(kStranger + 1)));  // the quieter stranger made room
  EXPECT_EQ(admit(numbered_key(6)), "stored");
  EXPECT_FALSE(node->peers().find(numbered_key(kStranger)));
  EXPECT_EQ(admit(numbered_key(7)), "stored");  // no stranger left: a member is still admitted
  EXPECT_EQ(node->peers().size(), 9u);
  EXPECT_EQ(node->stranger_count(), 0u);
}

TEST_F(NodeMembers, TheShareFollowsTheMemberSetAndNoLimitStillBoundsStrangers) {
  struct Case {
    const char* name;
    std::uint64_t max_peers;
    std::uint32_t strangers_admitted;
  };
  const Case cases[] = {
      {"a limit of 8", 8, 2},
      {"no limit: a quarter of the default", 0, static_cast<std::uint32_t>(node::kDefaultMaxPeers / 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node_with_limit(c.max_peers);
    set_members(0, 1);
    for (std::uint32_t n = 0; n < c.strangers_admitted; ++n) ASSERT_EQ(admit(numbered_key(kStranger + n)), "stored");
    EXPECT_NE(admit(numbered_key(kStranger + c.strangers_admitted)), "stored");
    EXPECT_EQ(admit(numbered_key(0)), "stored");
    // A stranger that becomes a member leaves the strangers' share.
    set_members(kStranger, 1);
    EXPECT_EQ(node->stranger_count(), c.strangers_admitted);  // member 0 is now a stranger
    set_members(0, kStranger + c.strangers_admitted);
    EXPECT_EQ(node->stranger_count(), 0u);
  }
}

TEST_F(NodeMembers, WithoutAMemberSetTheLimitBoundsEverySender) {
  make_node_with_limit(3);
  EXPECT_EQ(admit(numbered_key(0)), "stored");
  EXPECT_EQ(admit(numbered_key(1)), "stored");
  EXPECT_EQ(admit(numbered_key(2)), "PeersListCapacityExceeded(3)");
  EXPECT_FALSE(node->is_stranger(numbered_key(2)));
}

}  // namespace
}  // namespace valdori::p2p::node_test
