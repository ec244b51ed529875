#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "codec_fixtures.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/arming.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/message/short_header.hpp"

namespace valdori::p2p::message {
namespace {

using namespace codec_test;

const std::vector<std::uint8_t> kIpPacket{0x45, 0x00, 0x00, 0x54, 0xca, 0xfe};

std::string endpoints_text(const EndpointList& list) {
  std::vector<std::string> texts;
  for (const auto& endpoint : list) texts.push_back(net::to_string(endpoint));
  return fmt::format("{}", fmt::join(texts, " "));
}

// What a parsed message says, as text, or the debug form of the parse error.
template <class Parsed>
std::string describe(const boost::system::result<Parsed, error::Error>& parsed,
                     std::function<std::string(const Parsed&)> fields) {
  return parsed ? fields(*parsed) : error::debug(parsed.error());
}

struct MessageCase {
  std::string name;
  std::function<std::vector<std::uint8_t>(const Key& tx_key)> build;
  std::function<std::string(std::span<std::uint8_t> body, const LongHeader&, const Key& rx_key)> parse;
  std::string fields;
};

std::string parse_whole(const MessageCase& c, std::vector<std::uint8_t>& message, const Key& rx_key) {
  const auto parsed = LongHeader::parse(message);
  if (!parsed) return error::debug(parsed.error());
  return c.parse(parsed->body, parsed->header, rx_key);
}

const std::vector<MessageCase> kMessages{
    {"App",
     [](const Key& key) { return must(AppMessage::build(kNetworkId, kSender, kPow, key, kRecipient, kIpPacket)); },
     [](auto body, const auto& header, const Key& key) {
       return describe<AppMessage>(AppMessage::parse(body, header, key),
                                   [](const auto& m) { return hex(m.payload()); });
     },
     "45000054cafe"},
    {"Ack", [](const Key& key) { return must(AckMessage::build(kNetworkId, kSender, kPow, key, kRecipient, 42)); },
     [](auto body, const auto& header, const Key& key) {
       return describe<AckMessage>(AckMessage::parse(body, header, key),
                                   [](const auto& m) { return std::to_string(m.time()); });
     },
     "42"},
    {"NodePeerHello",
     [](const Key& key) {
       return must(HelloNodePeerMessage::build(kNetworkId, kSender, kPow, key, kRecipient, 42, kShortId));
     },
     [](auto body, const auto& header, const Key& key) {
       return describe<HelloNodePeerMessage>(HelloNodePeerMessage::parse(body, header, key), [](const auto& m) {
         return fmt::format("{} {}", m.time(), m.short_id().to_string());
       });
     },
     "42 0a0b0c0d"},
    {"SuperPeerHello",
     [](const Key& key) {
       return must(
           HelloSuperPeerMessage::build(kNetworkId, kSender, kPow, key, kRecipient, 42, encode_endpoints(kEndpoints)));
     },
     [](auto body, const auto& header, const Key& key) {
       return describe<HelloSuperPeerMessage>(HelloSuperPeerMessage::parse(body, header, key), [](const auto& m) {
         return fmt::format("{} {}", m.time(), endpoints_text(m.endpoints()));
       });
     },
     "42 192.0.2.1:4000 [2001:db8::1]:8080"},
    {"Unite",
     [](const Key& key) {
       return must(UniteMessage::build(kNetworkId, kSender, kPow, key, kRecipient, kPeer, kEndpoints));
     },
     [](auto body, const auto& header, const Key& key) {
       return describe<UniteMessage>(UniteMessage::parse(body, header, key), [](const auto& m) {
         return fmt::format("{} {}", m.peer().to_string().substr(0, 4), endpoints_text(m.endpoints()));
       });
     },
     "3333 192.0.2.1:4000 [2001:db8::1]:8080"},
};

class MessageArmingTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageArmingTest, ArmedAndUnarmedFormsCarryTheSameFields) {
  auto armed = GetParam().build(kKeys.a.tx);
  auto unarmed = GetParam().build(std::nullopt);
  EXPECT_EQ(armed.size(), unarmed.size() + kArmOverhead);
  EXPECT_EQ(parse_whole(GetParam(), armed, kKeys.b.rx), GetParam().fields);
  EXPECT_EQ(parse_whole(GetParam(), unarmed, std::nullopt), GetParam().fields);
}

// Relays may bump the hop count; otherwise arming must match what the receiver holds.
TEST_P(MessageArmingTest, DisarmsOnlyWithTheMatchingKey) {
  auto armed = GetParam().build(kKeys.a.tx);
  auto unarmed = GetParam().build(std::nullopt);
  EXPECT_EQ(parse_whole(GetParam(), armed, kKeys.b.tx), "DecryptFailed(\"authentication failed\")");
  EXPECT_EQ(parse_whole(GetParam(), armed, std::nullopt), "RxKeyNotPresent");
  EXPECT_EQ(parse_whole(GetParam(), unarmed, kKeys.b.rx), "ArmedMessageInvalid");
  auto relayed = GetParam().build(kKeys.a.tx);  // a failed disarm may leave the bytes changed
  relayed[kHopCountOffset] = 2;
  EXPECT_EQ(parse_whole(GetParam(), relayed, kKeys.b.rx), GetParam().fields);
}

TEST_P(MessageArmingTest, EveryOtherFlippedBitIsRejected) {
  const auto armed = GetParam().build(kKeys.a.tx);
  for (std::size_t i = 0; i < armed.size(); ++i) {
    if (i == kHopCountOffset) continue;
    for (int bit = 0; bit < 8; ++bit) {
      auto altered = armed;
      altered[i] ^= static_cast<std::uint8_t>(1 << bit);
      const std::string outcome = parse_whole(GetParam(), altered, kKeys.b.rx);
      ASSERT_NE(outcome, GetParam().fields) << "byte " << i << " bit " << bit;
      const bool authenticated_only = (i >= kNetworkIdOffset && i < kTypeOffset) || i > kTypeOffset;
      if (authenticated_only) {
        ASSERT_EQ(outcome, "DecryptFailed(\"authentication failed\")") << "byte " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageArmingTest, ::testing::ValuesIn(kMessages),
                         [](const auto& test) { return test.param.name; });

TEST(ShortHeaderArming, DisarmsInPlaceAndRejectsAnyFlippedBitOrWrongKey) {
  auto armed = must(ShortHeader::build(kShortId, kKeys.a.tx, kIpPacket));
  for (std::size_t i = 0; i < armed.size(); ++i) {
    auto altered = armed;
    altered[i] ^= 0x80;
    ASSERT_FALSE(ShortHeader::parse(altered, kKeys.b.rx)) << "byte " << i;
  }
  auto copy = armed;
  EXPECT_EQ(error::debug(ShortHeader::parse(copy, kKeys.a.rx).error()), "DecryptFailed(\"authentication failed\")");
  std::vector<std::uint8_t> too_short(kShortIdLen + kArmOverhead - 1, 0x01);
  EXPECT_EQ(error::debug(ShortHeader::parse(too_short, kKeys.b.rx).error()), "DisarmFailedTooShort(39, 40)");
  const auto payload = must(ShortHeader::parse(armed, kKeys.b.rx));
  EXPECT_EQ(hex(payload), hex(kIpPacket));
  EXPECT_EQ(payload.data(), armed.data() + kShortIdLen + kArmNonceLen);
}

TEST(BuildInto, RefusesABufferTooSmall) {
  std::vector<std::uint8_t> buffer(kLongHeaderLen + kArmOverhead + kIpPacket.size() - 1);
  EXPECT_EQ(error::debug(
                AppMessage::build_into(buffer, kNetworkId, kSender, kPow, kKeys.a.tx, kRecipient, kIpPacket).error()),
            "WriteAppMessageFailed(\"124 bytes of room for a 125-byte message\")");
  std::vector<std::uint8_t> small(kShortIdLen + kIpPacket.size() - 1);
  EXPECT_FALSE(ShortHeader::build_into(small, kShortId, std::nullopt, kIpPacket));
}

}  // namespace
}  // namespace valdori::p2p::message
