// Golden bytes of the wire layout, so that a layout bug cannot hide on both ends of a link.
#include <string>
#include <vector>

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

const std::optional<crypto::SessionKey> kNoKey;
constexpr std::uint64_t kTime = 0x0000018c2a3b4c5d;
const std::string kTimeHex = "0000018c2a3b4c5d";
const std::vector<std::uint8_t> kPayload{0xca, 0xfe};
const std::string kEndpointsHex =
    "02"
    "04"
    "c0000201"
    "0fa0"
    "06"
    "20010db8000000000000000000000001"
    "1f90";

// Magic, flags, hop count, network id 7, recipient, sender, pow -2, then the type byte.
std::string header_hex(std::string_view type) {
  return "1e3f5001"
         "00"
         "00"
         "00000007" +
         repeat("22", 32) + repeat("11", 32) + "fffffffe" + std::string(type);
}

TEST(WireLayout, UnarmedMessages) {
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {must(AppMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kPayload)), header_hex("01") + "cafe"},
      {must(AckMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kTime)), header_hex("00") + kTimeHex},
      {must(HelloNodePeerMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kTime, kShortId)),
       header_hex("02") + kTimeHex + "0a0b0c0d"},
      {must(HelloSuperPeerMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kTime,
                                         encode_endpoints(kEndpoints))),
       header_hex("02") + kTimeHex + kEndpointsHex},
      {must(UniteMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kPeer, kEndpoints)),
       header_hex("03") + repeat("33", 32) + kEndpointsHex},
      {must(ShortHeader::build(kShortId, kNoKey, kPayload)), "0a0b0c0dcafe"},
  };
  for (const auto& [message, expected] : cases) EXPECT_EQ(hex(message), expected);
}

TEST(WireLayout, ArmedMessagesSetTheFlagAndCarryNonceAndTag) {
  const auto keys = session_key_pair();
  const auto message = must(AppMessage::build(kNetworkId, kSender, kPow, keys.a.tx, kRecipient, kPayload));
  ASSERT_EQ(message.size(), kLongHeaderLen + kArmOverhead + kPayload.size());
  EXPECT_EQ(message[kFlagsOffset], 0x01);
  auto expected_header = unhex(header_hex("01"));
  expected_header[kFlagsOffset] = 0x01;
  EXPECT_EQ(std::vector<std::uint8_t>(message.begin(), message.begin() + kLongHeaderLen), expected_header);
  const auto short_message = must(ShortHeader::build(kShortId, keys.a.tx, kPayload));
  EXPECT_EQ(short_message.size(), kShortIdLen + kArmOverhead + kPayload.size());
}

TEST(LongHeader, ReadsEveryFieldInPlace) {
  auto message = unhex(header_hex("01") + "cafe");
  message[kHopCountOffset] = 3;
  const auto parsed = must(LongHeader::parse(message));
  EXPECT_FALSE(parsed.header.armed());
  EXPECT_EQ(parsed.header.hop_count(), 3);
  EXPECT_EQ(parsed.header.network_id(), kNetworkId);
  EXPECT_EQ(parsed.header.recipient(), kRecipient);
  EXPECT_EQ(parsed.header.sender(), kSender);
  EXPECT_EQ(parsed.header.pow(), kPow);
  EXPECT_EQ(parsed.header.message_type(), MessageType::APP);
  EXPECT_EQ(parsed.header.bytes().data(), message.data());
  EXPECT_EQ(hex(parsed.body), "cafe");
  auto other_type = unhex(header_hex("c8"));  // any type byte, for the caller to judge
  EXPECT_EQ(must(LongHeader::parse(other_type)).header.message_type().value, 200);
}

struct RejectCase {
  std::string name;
  std::string message_hex;
  std::string error_debug;
};

class LongHeaderRejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(LongHeaderRejectTest, RejectsMalformedHeaders) {
  auto message = unhex(GetParam().message_hex);
  const auto parsed = LongHeader::parse(message);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(error::debug(parsed.error()), GetParam().error_debug);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LongHeaderRejectTest,
    ::testing::Values(RejectCase{"Empty", "",
                                 "LongHeaderConversionFailed(\"0 bytes are shorter than the 79-byte header\")"},
                      RejectCase{"OneByteShort", header_hex("").substr(0, 156),
                                 "LongHeaderConversionFailed(\"78 bytes are shorter than the 79-byte header\")"},
                      RejectCase{"WrongMagic", "1e3f5002" + header_hex("01").substr(8),
                                 "MagicNumberInvalid(MagicNumber([30, 63, 80, 2]))"},
                      RejectCase{"UnknownFlag",
                                 "1e3f5001"
                                 "02" +
                                     header_hex("01").substr(10),
                                 "LongHeaderConversionFailed(\"unknown flags 0x02\")"}),
    [](const auto& test) { return test.param.name; });

// The debug form of the error a body parser gives, or "parsed".
using BodyParse = std::string (*)(std::span<std::uint8_t>, const LongHeader&);

template <class Message>
std::string parse_error(std::span<std::uint8_t> body, const LongHeader& header) {
  const auto parsed = Message::parse(body, header, std::nullopt);
  return parsed ? "parsed" : error::debug(parsed.error());
}

struct BodyRejectCase {
  std::string name;
  std::string message_hex;
  BodyParse parse;
  std::string error_debug;
};

class BodyRejectTest : public ::testing::TestWithParam<BodyRejectCase> {};

TEST_P(BodyRejectTest, RejectsMalformedBodies) {
  auto message = unhex(GetParam().message_hex);
  const auto parsed = must(LongHeader::parse(message));
  EXPECT_EQ(GetParam().parse(parsed.body, parsed.header), GetParam().error_debug);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyRejectTest,
    ::testing::Values(BodyRejectCase{"AckTooShort", header_hex("00") + "00000000000000", parse_error<AckMessage>,
                                     "AckMessageConversionFailed(\"body of 7 bytes, expected 8\")"},
                      BodyRejectCase{"AckTooLong", header_hex("00") + kTimeHex + "00", parse_error<AckMessage>,
                                     "AckMessageConversionFailed(\"body of 9 bytes, expected 8\")"},
                      BodyRejectCase{"HelloWithoutShortId", header_hex("02") + kTimeHex,
                                     parse_error<HelloNodePeerMessage>,
                                     "HelloMessageConversionFailed(\"body of 8 bytes, expected 12\")"},
                      BodyRejectCase{"HelloZeroShortId", header_hex("02") + kTimeHex + "00000000",
                                     parse_error<HelloNodePeerMessage>, "InvalidShortId"},
                      BodyRejectCase{"SuperPeerHelloWithoutTime", header_hex("02") + "0000",
                                     parse_error<HelloSuperPeerMessage>,
                                     "HelloMessageConversionFailed(\"body of 2 bytes holds no time\")"},
                      BodyRejectCase{"UniteWithoutKey", header_hex("03") + "3333", parse_error<UniteMessage>,
                                     "UniteMessageInvalid(\"body of 2 bytes holds no peer key\")"},
                      BodyRejectCase{"AppUnderHelloType", header_hex("02") + "cafe", parse_error<AppMessage>,
                                     "MessageTypeInvalid(2)"}),
    [](const auto& test) { return test.param.name; });

TEST(ShortId, NeverAllZeroNorTheMagic) {
  EXPECT_FALSE(ShortId{}.is_valid());
  EXPECT_FALSE(ShortId{kMagicNumber.bytes}.is_valid());
  EXPECT_TRUE(kShortId.is_valid());
  EXPECT_TRUE((ShortId{{0, 0, 0, 1}}.is_valid()));
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(ShortId::random().is_valid());
}

TEST(ShortHeader, RefusesToBuildOrParseAnInvalidId) {
  EXPECT_EQ(error::debug(ShortHeader::build(ShortId{}, kNoKey, kPayload).error()), "InvalidShortId");
  EXPECT_EQ(error::debug(HelloNodePeerMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kTime,
                                                     ShortId{kMagicNumber.bytes})
                             .error()),
            "InvalidShortId");
  auto zero_id = unhex("00000000cafe");
  EXPECT_EQ(error::debug(ShortHeader::parse(zero_id, kNoKey).error()), "InvalidShortId");
  auto too_short = unhex("0a0b0c");
  EXPECT_EQ(error::debug(ShortHeader::parse(too_short, kNoKey).error()),
            "ShortHeaderConversionFailed(\"3 bytes hold no short id\")");
}

TEST(Endpoints, LeaveOutUnusableOnesAndStopAtTheLimit) {
  std::vector<net::SocketAddr> endpoints{{boost::asio::ip::make_address("0.0.0.0"), 4000},
                                         {boost::asio::ip::make_address("192.0.2.1"), 0},
                                         {boost::asio::ip::make_address("ff02::1"), 4000}};
  for (unsigned i = 0; i < kMaxEndpoints + 5; ++i)
    endpoints.emplace_back(boost::asio::ip::make_address_v4(0xC0000200 + i), 4000);
  const auto encoded = encode_endpoints(endpoints);
  const auto list = must(EndpointList::parse(encoded));
  ASSERT_EQ(list.size(), kMaxEndpoints);
  EXPECT_EQ(*list.begin(), endpoints[3]);
  EXPECT_EQ(std::vector<net::SocketAddr>(list.begin(), list.end()),
            std::vector<net::SocketAddr>(endpoints.begin() + 3, endpoints.begin() + 3 + kMaxEndpoints));
}

TEST(Endpoints, ReadBackWhatWasWritten) {
  const auto encoded = encode_endpoints(kEndpoints);
  const auto list = must(EndpointList::parse(encoded));
  EXPECT_EQ(std::vector<net::SocketAddr>(list.begin(), list.end()), kEndpoints);
}

class EndpointRejectTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(EndpointRejectTest, RejectsMalformedLists) {
  const auto bytes = unhex(GetParam().first);
  const auto list = EndpointList::parse(bytes);
  ASSERT_FALSE(list);
  EXPECT_EQ(error::debug(list.error()), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, EndpointRejectTest,
    ::testing::Values(
        std::pair{std::string("21"), std::string("EndpointInvalid(\"33 endpoints exceed the limit of 32\")")},
        std::pair{std::string("01"), std::string("EndpointInvalid(\"truncated endpoint list\")")},
        std::pair{std::string("0105c00002010fa0"), std::string("EndpointInvalid(\"unknown address family 5\")")},
        std::pair{std::string("0104c0000201"), std::string("EndpointInvalid(\"truncated endpoint\")")},
        std::pair{std::string("0104c00002010000"), std::string("EndpointPortInvalid")},
        std::pair{std::string("0104000000000fa0"), std::string("EndpointAddrInvalid(0.0.0.0)")},
        std::pair{std::string("0104c00002010fa000"),
                  std::string("EndpointInvalid(\"1 bytes after the last endpoint\")")}));

TEST(HelloSuperPeerMessage, RefusesCandidatesThatAreNoEndpointList) {
  const auto built =
      HelloSuperPeerMessage::build(kNetworkId, kSender, kPow, kNoKey, kRecipient, kTime, unhex("0104c0000201"));
  ASSERT_FALSE(built);
  EXPECT_EQ(error::debug(built.error()), "HelloMessageInvalidEndpoints");
}

}  // namespace
}  // namespace valdori::p2p::message
