// Dispatch of one received message: a sender is stored only once its message authenticated;
// short-header delivery, and the peer limit.
#include "overlay_node/node/dispatch.hpp"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/short_header.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;
using p2p::node_test::weak_pow;

const p2p::net::SocketAddr kSource = addr("127.0.0.1", 5000);
const Bytes kPayload{0x45, 0x00, 0x00, 0x14, 1, 2, 3};

class Dispatch : public NodeTaskTest {
 public:
  Bytes app_from(const p2p::Identity& from, const p2p::PubKey& recipient = self_id().pk(),
                 const p2p::message::NetworkId& network_id = kNetworkId) const {
    return must(
        p2p::message::AppMessage::build(network_id, from.pk(), from.pow(), key_to_node(from), recipient, kPayload));
  }

  Bytes unite_from(const p2p::Identity& from, const p2p::PubKey& about, const p2p::net::SocketAddr& at) const {
    const std::vector<p2p::net::SocketAddr> endpoints{at};
    return must(p2p::message::UniteMessage::build(kNetworkId, from.pk(), from.pow(), key_to_node(from), self_id().pk(),
                                                  about, endpoints));
  }

  Bytes stale_hello() const {
    return hello_from(other_id(), kStart - p2p::node_test::kHelloMaxAge - 1, p2p::message::ShortId::random());
  }

  static constexpr p2p::message::NetworkId kNodeNetwork = kNetworkId;

 protected:
  boost::system::result<node::Replies, p2p::node::error::Error> dispatch(Bytes& message) {
    return node::on_packet(*node, message, kSource, binding.get(), std::nullopt);
  }

  static std::string debug_of(const p2p::node::error::Error& e) { return p2p::node::error::debug(e); }
};

struct RefusalCase {
  std::string name;
  std::function<Bytes(const Dispatch&)> message;
  std::string error;  // the start of the error's debug form
};

class DispatchRefusal : public Dispatch, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DispatchRefusal, RefusesWithTheKindAndStoresNoSender) {
  make_node();
  Bytes message = GetParam().message(*this);
  const auto result = dispatch(message);
  ASSERT_FALSE(result);
  EXPECT_TRUE(debug_of(result.error()).starts_with(GetParam().error)) << debug_of(result.error());
  EXPECT_FALSE(node->peers().find(other_id().pk()).has_value());
  EXPECT_TRUE(sink->messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchRefusal,
    ::testing::Values(
        RefusalCase{"ThreeBytes",
                    [](const Dispatch&) {
                      return Bytes{0x1E, 0x3F, 0x50};
                    },
                    "MessageError("},
        RefusalCase{"OtherNetwork",
                    [](const Dispatch& test) {
                      return test.app_from(other_id(), self_id().pk(), {0, 0, 0, 8});
                    },
                    "NetworkIdInvalid([0, 0, 0, 8])"},
        RefusalCase{"OtherRecipient", [](const Dispatch& test) { return test.app_from(other_id(), super_id().pk()); },
                    "MessageInvalidRecipient"},
        RefusalCase{"StrangerWithWeakProofOfWork",
                    [](const Dispatch& test) {
                      Bytes message = test.app_from(other_id());
                      const auto pow = static_cast<std::uint32_t>(weak_pow(other_id().pk()).value());
                      for (int i = 0; i < 4; ++i)
                        message[p2p::message::kPowOffset + i] = static_cast<std::uint8_t>(pow >> (24 - 8 * i));
                      return message;
                    },
                    "PowInvalid"},
        RefusalCase{"AppFromTheSuperPeer", [](const Dispatch& test) { return test.app_from(super_id()); },
                    "MessageTypeUnexpected(MessageType(1))"},
        RefusalCase{"UniteFromANodePeer",
                    [](const Dispatch& test) { return test.unite_from(other_id(), super_id().pk(), kSource); },
                    "MessageTypeUnexpected(MessageType(3))"},
        RefusalCase{"UnknownType",
                    [](const Dispatch& test) {
                      Bytes message = test.app_from(other_id());
                      message[p2p::message::kTypeOffset] = 200;
                      return message;
                    },
                    "MessageTypeInvalid"},
        RefusalCase{"UnarmedToAnArmedNode",
                    [](const Dispatch&) {
                      return must(p2p::message::AppMessage::build(Dispatch::kNodeNetwork, other_id().pk(),
                                                                  other_id().pow(), std::nullopt, self_id().pk(),
                                                                  kPayload));
                    },
                    "MessageError("},
        RefusalCase{"StaleHelloOfAStranger", [](const Dispatch& test) { return test.stale_hello(); }, "HelloTooOld("}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return param.param.name; });

// A HELLO's time is the sender's wall clock: the replay window compares it with this node's wall
// clock, however far that stands from the interval clock.
TEST_F(Dispatch, AHellosTimeIsTakenAgainstTheWallClock) {
  for (const bool on_wall_clock : {true, false}) {
    make_node();
    wall = now - 100'000;
    Bytes hello = hello_from(other_id(), on_wall_clock ? wall.load() : now.load(), p2p::message::ShortId::random());
    const auto result = dispatch(hello);
    EXPECT_EQ(result ? "taken" : debug_of(result.error()), on_wall_clock ? "taken" : "HelloTimeIsInFuture");
  }
}

TEST_F(Dispatch, ShortHeaderDataOfAKnownPeerIsDelivered) {
  make_node();
  const auto peer = admit_other();
  Bytes message = must(p2p::message::ShortHeader::build(peer->rx_short_id(), key_to_node(other_id()), kPayload));
  const auto result = dispatch(message);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->udp.empty() && result->tcp.empty());
  ASSERT_EQ(sink->messages().size(), 1u);
  EXPECT_EQ(sink->messages()[0], std::pair(other_id().pk(), kPayload));
  EXPECT_EQ(peer->app_rx_time(), node->cached_time());
}

// A short id whose entry names a key that has no node peer (gone, or a super peer's).
TEST_F(Dispatch, ShortIdsThatMatchNoNodePeerAreDropped) {
  make_node();
  for (const auto& key : {other_id().pk(), super_id().pk()}) {
    logs.clear();
    const auto stray = std::make_shared<p2p::peer::NodePeer>(
        key, other_id().pow(), must(p2p::peer::session_keys_for(own_keys, key)), now, super_id().pk());
    const auto id = node->peers().assign_rx_short_id(*stray);
    Bytes message = must(p2p::message::ShortHeader::build(id, std::nullopt, kPayload));
    const auto result = dispatch(message);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is<p2p::node::error::ShortIdOutdated>());
    EXPECT_TRUE(logs.has(Level::warn, "Drop package with short header we no longer can match to a peer"));
  }
  EXPECT_TRUE(sink->messages().empty());
}

TEST_F(Dispatch, AKnownPeersProofOfWorkIsCheckedOnEveryMessage) {
  make_node();
  admit_other();
  Bytes weak = must(p2p::message::AppMessage::build(kNetworkId, other_id().pk(), weak_pow(other_id().pk()),
                                                    key_to_node(other_id()), self_id().pk(), kPayload));
  const auto refused = dispatch(weak);
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().is<p2p::node::error::PowInvalid>());
  Bytes good = app_from(other_id());
  ASSERT_TRUE(dispatch(good));
  EXPECT_EQ(sink->messages().size(), 1u);
}

TEST_F(Dispatch, ThePeerLimitCountsTheSuperPeers) {
  make_node({.max_peers = 2});
  Bytes first = app_from(other_id());
  ASSERT_TRUE(dispatch(first));
  const auto third = must(p2p::Identity::generate(p2p::node_test::kDifficulty));
  Bytes refused = app_from(third);
  const auto result = dispatch(refused);
  ASSERT_FALSE(result);
  EXPECT_EQ(debug_of(result.error()), "PeersListCapacityExceeded(2)");
  EXPECT_FALSE(node->peers().find(third.pk()));
}

// A stranger's datagrams that never authenticate cost one key agreement in all; agreements with
// keys never seen are rate-limited per source address.
TEST_F(Dispatch, KeyAgreementsAreKeptPerKeyAndLimitedPerSource) {
  make_node({.min_pow_difficulty = 0});
  const auto limited = [](const auto& result) {
    return !result && result.error().template is<p2p::node::error::KeyAgreementsLimited>();
  };
  for (int i = 0; i < 100; ++i) {
    Bytes forged = app_from(other_id());
    forged.back() ^= 1;
    const auto result = dispatch(forged);
    ASSERT_FALSE(result);
    ASSERT_TRUE(result.error().is<p2p::node::error::MessageError>()) << debug_of(result.error());
  }
  int refused = 0;
  for (std::uint8_t n = 1; n <= 40; ++n) {
    p2p::PubKey::Bytes bytes{};
    bytes.fill(n);
    Bytes message = app_from(other_id());
    std::ranges::copy(bytes, message.begin() + p2p::message::kSenderOffset);
    refused += limited(dispatch(message)) ? 1 : 0;
  }
  EXPECT_EQ(refused, 40 - static_cast<int>(p2p::node::kAgreementBurst - 1));
  // Other sources are not held back, nor the stranger already agreed with.
  Bytes elsewhere = app_from(p2p::node_test::second_super_id());
  EXPECT_FALSE(limited(node::on_packet(*node, elsewhere, addr("127.0.0.2", 5000), binding.get(), std::nullopt)));
  Bytes known = app_from(other_id());
  EXPECT_TRUE(dispatch(known));
  EXPECT_EQ(node->peers().size(), 3u);  // the super peer and the two that authenticated
}

// Past its own limit a source spends nothing of the budget that all sources share, and the
// budget refusing a source spends nothing of the source's own limit; sources within their own
// limits meet that budget together.
TEST_F(Dispatch, KeyAgreementsOfAllSourcesShareOneBudget) {
  make_node({.min_pow_difficulty = 0});
  int key_number = 0;
  // The refusals that messages from `tries` keys never seen met, from `source`, by kind.
  const auto refusals_from = [&](const std::string& source, std::uint32_t tries) {
    std::map<std::string, int> refusals;
    for (std::uint32_t i = 0; i < tries; ++i) {
      p2p::PubKey::Bytes bytes{};
      bytes[0] = static_cast<std::uint8_t>(key_number);
      bytes[1] = static_cast<std::uint8_t>(key_number++ >> 8);
      Bytes message = app_from(other_id());
      std::ranges::copy(bytes, message.begin() + p2p::message::kSenderOffset);
      const auto result = node::on_packet(*node, message, addr(source.c_str(), 5000), binding.get(), std::nullopt);
      if (!result && result.error().is<p2p::node::error::KeyAgreementsLimited>()) ++refusals["own limit"];
      if (!result && result.error().is<p2p::node::error::KeyAgreementBudgetSpent>()) ++refusals["budget"];
    }
    return refusals;
  };
  using Refusals = std::map<std::string, int>;
  const int burst = static_cast<int>(p2p::node::kAgreementBurst);
  EXPECT_EQ(refusals_from("127.0.0.1", 300), (Refusals{{"own limit", 300 - burst}}));
  int over_budget = 0;
  for (int source = 1; source <= 10; ++source)
    over_budget += refusals_from("10.0.0." + std::to_string(source), burst)["budget"];
  const int left = static_cast<int>(p2p::node::kAgreementBudgetBurst) - burst;
  EXPECT_EQ(over_budget, 10 * burst - left);
  EXPECT_EQ(node->agreements_over_budget(), static_cast<std::uint64_t>(over_budget));

  // The last source was refused by the budget throughout: once the budget has room again, and
  // long before its own limit would have, it gets its whole burst.
  now += p2p::node::kAgreementBudgetIntervalUs * p2p::node::kAgreementBurst / 1000;
  node->current_time();
  EXPECT_EQ(refusals_from("10.0.0.10", burst), Refusals{});
}

}  // namespace
}  // namespace valdori::node_test
