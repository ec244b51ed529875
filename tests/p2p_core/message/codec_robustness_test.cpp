// Feeds random and truncated bytes to every parser: under AddressSanitizer any read outside the
// given bytes fails the run; the parsers must reject what they cannot read.
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "codec_fixtures.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/message/frame_codec.hpp"
#include "p2p_core/message/short_header.hpp"

namespace valdori::p2p::message {
namespace {

using namespace codec_test;

// Runs every parser on a copy of `bytes` (parsers disarm in place) and reports how many of the
// message parsers accepted it.
int parse_everything(const std::vector<std::uint8_t>& bytes, const Key& rx_key) {
  (void)EndpointList::parse(bytes);
  (void)FrameCodec().decode(bytes);
  auto copy = [&] { return bytes; };
  int accepted = 0;
  {
    auto message = copy();
    accepted += ShortHeader::parse(message, rx_key).has_value();
  }
  const auto parse_body = [&]<class Message>() {
    auto message = copy();
    const auto parsed = LongHeader::parse(message);
    if (!parsed) return 0;
    return static_cast<int>(Message::parse(parsed->body, parsed->header, rx_key).has_value());
  };
  accepted += parse_body.template operator()<AppMessage>();
  accepted += parse_body.template operator()<AckMessage>();
  accepted += parse_body.template operator()<HelloNodePeerMessage>();
  accepted += parse_body.template operator()<HelloSuperPeerMessage>();
  accepted += parse_body.template operator()<UniteMessage>();
  return accepted;
}

std::vector<std::vector<std::uint8_t>> valid_messages(const Key& tx_key) {
  const std::vector<net::SocketAddr> endpoints{{boost::asio::ip::make_address("192.0.2.1"), 4000},
                                               {boost::asio::ip::make_address("2001:db8::1"), 8080}};
  const std::vector<std::uint8_t> payload(100, 0x45);
  return {must(AppMessage::build(kNetworkId, kSender, kPow, tx_key, kRecipient, payload)),
          must(AckMessage::build(kNetworkId, kSender, kPow, tx_key, kRecipient, 42)),
          must(HelloNodePeerMessage::build(kNetworkId, kSender, kPow, tx_key, kRecipient, 42, ShortId::random())),
          must(HelloSuperPeerMessage::build(kNetworkId, kSender, kPow, tx_key, kRecipient, 42,
                                            encode_endpoints(endpoints))),
          must(UniteMessage::build(kNetworkId, kSender, kPow, tx_key, kRecipient, kPeer, endpoints)),
          must(ShortHeader::build(ShortId::random(), tx_key, payload))};
}

TEST(ParserRobustness, RandomBytesOfEveryLength) {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t length = 0; length <= kDefaultMaxMessageLen + 8; ++length) {
    std::vector<std::uint8_t> bytes(length);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(rng));
    parse_everything(bytes, std::nullopt);
    parse_everything(bytes, kKeys.b.rx);
    // The same with a valid long-header start, so that the body parsers get to work.
    if (length >= 4) std::copy(kMagicNumber.bytes.begin(), kMagicNumber.bytes.end(), bytes.begin());
    if (length > kFlagsOffset) bytes[kFlagsOffset] &= kFlagArmed;
    parse_everything(bytes, std::nullopt);
    parse_everything(bytes, kKeys.b.rx);
  }
}

TEST(ParserRobustness, EveryTruncationOfValidMessages) {
  for (const auto& [tx_key, rx_key] : {std::pair<Key, Key>{std::nullopt, std::nullopt}, {kKeys.a.tx, kKeys.b.rx}}) {
    for (const auto& message : valid_messages(tx_key)) {
      ASSERT_GE(parse_everything(message, rx_key), 1);
      for (std::size_t length = 0; length < message.size(); ++length) {
        const std::vector<std::uint8_t> truncated(message.begin(),
                                                  message.begin() + static_cast<std::ptrdiff_t>(length));
        const int accepted = parse_everything(truncated, rx_key);
        // An armed message loses its tag when cut, so no parser may accept it.
        if (rx_key) {
          EXPECT_EQ(accepted, 0) << "length " << length;
        }
      }
    }
  }
}

}  // namespace
}  // namespace valdori::p2p::message
