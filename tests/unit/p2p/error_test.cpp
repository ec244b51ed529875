#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/message/error.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/opts_builder_error.hpp"
#include "p2p_core/peer/error.hpp"
#include "p2p_core/peer/pow_status.hpp"

namespace valdori::p2p {
namespace {

namespace ne = node::error;
namespace me = message::error;
namespace pe = peer::error;

const net::SocketAddr kAddr{boost::asio::ip::make_address("192.0.2.1"), 4000};
const std::error_code kRefused = std::make_error_code(std::errc::connection_refused);

struct DebugCase {
  ne::Error error;
  std::string debug;
};

class NodeErrorDebugTest : public testing::TestWithParam<DebugCase> {};

TEST_P(NodeErrorDebugTest, PrintsNameThenPayloadsInParentheses) {
  EXPECT_EQ(ne::debug(GetParam().error), GetParam().debug);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NodeErrorDebugTest,
    testing::Values(
        DebugCase{ne::SuperPeerNetworkIdMismatch{{0, 0, 0, 1}, {0, 0, 0, 2}},
                  "SuperPeerNetworkIdMismatch([0, 0, 0, 1], [0, 0, 0, 2])"},
        DebugCase{ne::PeerError{pe::SuperPeerResolveEmpty{}}, "PeerError(SuperPeerResolveEmpty)"},
        DebugCase{ne::MessageTypeUnexpected{message::MessageType::UNITE}, "MessageTypeUnexpected(MessageType(3))"},
        DebugCase{ne::CryptoError{crypto::error::Error{crypto::error::Error::Kind::DecryptFailed}},
                  "CryptoError(DecryptFailed)"},
        DebugCase{ne::PeerError{pe::SuperPeerResolveTimeout{"sp.example:4000", 5000}},
                  "PeerError(SuperPeerResolveTimeout(\"sp.example:4000\", 5000))"},
        DebugCase{
            ne::PeerError{pe::Crypto{crypto::error::Error::from_hex(crypto::error::HexError::invalid_character('x'))}},
            "PeerError(Crypto(HexError(InvalidCharacter(120))))"},
        DebugCase{ne::MessageError{me::MagicNumberInvalid{{{0, 0, 0, 0}}}},
                  "MessageError(MagicNumberInvalid(MagicNumber([0, 0, 0, 0])))"},
        DebugCase{ne::MessageError{me::DecryptFailed{"say \"no\""}}, "MessageError(DecryptFailed(\"say \\\"no\\\"\"))"},
        DebugCase{ne::NetworkIdInvalid{{0, 0, 1, 0}}, "NetworkIdInvalid([0, 0, 1, 0])"},
        DebugCase{ne::SendFailed{node::TransportProt::UDP, kRefused},
                  "SendFailed(UDP, ErrorCode(\"generic\", 111, \"Connection refused\"))"},
        DebugCase{ne::SendingDirectError{kRefused, kAddr},
                  "SendingDirectError(ErrorCode(\"generic\", 111, \"Connection refused\"), 192.0.2.1:4000)"},
        DebugCase{ne::AppLenInvalid{1201, 1200}, "AppLenInvalid(1201, 1200)"},
        DebugCase{ne::PeersListCapacityExceeded{8192}, "PeersListCapacityExceeded(8192)"},
        DebugCase{ne::HousekeepingFailed{{ne::JoinError::Kind::Cancelled, ""}},
                  "HousekeepingFailed(JoinError(Cancelled))"},
        DebugCase{ne::BindParseError{{ne::AddrParseError::Kind::Socket}}, "BindParseError(AddrParseError(Socket))"},
        DebugCase{ne::NoSuperPeers{}, "NoSuperPeers"}, DebugCase{ne::SendHandleClosed{}, "SendHandleClosed"}));

TEST(NodeError, KindIndexIsItsPositionInTheEnumeration) {
  EXPECT_EQ(ne::Error(ne::SendFailed{}).index(), 0u);
  EXPECT_EQ(ne::Error(ne::MessageError{}).index(), 1u);
  EXPECT_EQ(ne::Error(ne::MessageTypeInvalid{}).index(), 18u);
  EXPECT_EQ(ne::Error(ne::AppLenInvalid{}).index(), 28u);
  EXPECT_EQ(ne::Error(ne::SendToSelf{}).index(), 35u);
  EXPECT_EQ(me::Error(me::InvalidShortId{}).index(), 35u);
  EXPECT_EQ(pe::Error(pe::SuperPeerResolveEmpty{}).index(), 5u);
}

struct DisplayCase {
  ne::Error error;
  std::vector<std::string> parts;  // what the line must show
};

class NodeErrorDisplayTest : public testing::TestWithParam<DisplayCase> {};

TEST_P(NodeErrorDisplayTest, IsOneLineNamingTheFailureWithItsPayload) {
  const std::string text = ne::display(GetParam().error);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  for (const auto& part : GetParam().parts) EXPECT_NE(text.find(part), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NodeErrorDisplayTest,
    testing::Values(
        DisplayCase{ne::AppLenInvalid{1201, 1200}, {"APP", "1201", "1200"}},
        DisplayCase{ne::SendingDirectError{kRefused, kAddr}, {"192.0.2.1:4000", "Connection refused"}},
        DisplayCase{ne::SuperPeerNetworkIdMismatch{{0, 0, 0, 1}, {0, 0, 0, 2}}, {"network id", "1", "2"}},
        DisplayCase{ne::PeerError{pe::SuperPeerLookupFailed{"sp.example", "no port"}}, {"sp.example", "no port"}},
        DisplayCase{ne::PeerError{pe::SuperPeerResolveTimeout{"sp.example:4000", 5000}}, {"sp.example:4000", "5000"}},
        DisplayCase{ne::MessageError{me::DisarmFailedTooShort{12, 40}}, {"12", "40"}},
        DisplayCase{ne::MessageError{me::EndpointAddrInvalid{boost::asio::ip::make_address("224.0.0.1")}},
                    {"224.0.0.1"}},
        DisplayCase{ne::PeersListCapacityExceeded{8192}, {"8192"}},
        DisplayCase{ne::RecipientIsSuperPeer{PubKey(PubKey::Bytes{0xab})}, {"ab00"}}));

TEST(SmallEnumerations, PrintTheirExactNames) {
  EXPECT_EQ(node::debug(node::TransportProt::TCP), "TCP");
  EXPECT_EQ(node::debug(node::TransportProt::UDP), "UDP");
  EXPECT_EQ(peer::debug(peer::PowStatus::Unknw), "Unknw");
  EXPECT_EQ(peer::debug(peer::PowStatus::Ok), "Ok");
  EXPECT_EQ(peer::debug(peer::PowStatus::Nok), "Nok");
  EXPECT_EQ(node::debug(node::NodeOptsBuilderError(node::opts_builder_error::UninitializedField{"id"})),
            "UninitializedField(\"id\")");
  EXPECT_EQ(node::debug(node::NodeOptsBuilderError(node::opts_builder_error::ValidationError{"bad"})),
            "ValidationError(\"bad\")");
}

}  // namespace
}  // namespace valdori::p2p
