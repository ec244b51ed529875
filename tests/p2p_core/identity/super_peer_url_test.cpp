#include <gtest/gtest.h>

#include <set>
#include <string>

#include <sodium.h>

#include "p2p_core/identity/super_peer_url.hpp"

namespace valdori::p2p {
namespace {

using Kind = SuperPeerUrlError::Kind;

const std::string kKey = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
const std::string kKeyUpper = "D75A980182B10AB7D54BFED3C964073A0EE172F3DAA62325AF021A68F707511A";

struct Good {
  std::string text;
  std::string host;
  std::uint16_t port;
  std::string addr;
  std::uint32_t network_id;
  std::uint16_t tcp_port;
  std::string canonical;
};

class SuperPeerUrlGoodTest : public ::testing::TestWithParam<Good> {};

TEST_P(SuperPeerUrlGoodTest, ParsesAndRoundTrips) {
  const Good& g = GetParam();
  const auto url = SuperPeerUrl::try_from(g.text);
  ASSERT_TRUE(url) << display(url.error());
  EXPECT_EQ(url->host(), g.host);
  EXPECT_EQ(url->port(), g.port);
  EXPECT_EQ(url->addr(), g.addr);
  EXPECT_EQ(url->pk().to_string(), kKey);
  EXPECT_EQ(url->network_id(), g.network_id);
  EXPECT_EQ(url->tcp_port(), g.tcp_port);
  EXPECT_EQ(url->to_string(), g.canonical);
  EXPECT_TRUE(SuperPeerUrl::try_from(url->to_string()) == url);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SuperPeerUrlGoodTest,
    ::testing::Values(Good{"udp://sp.example.org:5000?publicKey=" + kKey + "&networkId=7&tcpPort=443", "sp.example.org",
                           5000, "sp.example.org:5000", 7, 443,
                           "udp://sp.example.org:5000?publicKey=" + kKey + "&networkId=7&tcpPort=443"},
                      // tcpPort defaults to the UDP port
                      Good{"udp://10.1.2.3:22527?publicKey=" + kKey + "&networkId=1", "10.1.2.3", 22527,
                           "10.1.2.3:22527", 1, 22527,
                           "udp://10.1.2.3:22527?publicKey=" + kKey + "&networkId=1&tcpPort=22527"},
                      // IPv6 in canonical form; parameters in any order; upper-case key and scheme
                      Good{"UDP://[2001:DB8:0::0:1]:9000?networkId=4294967295&publicKey=" + kKeyUpper, "2001:db8::1",
                           9000, "[2001:db8::1]:9000", 4294967295u, 9000,
                           "udp://[2001:db8::1]:9000?publicKey=" + kKey + "&networkId=4294967295&tcpPort=9000"},
                      Good{"udp://h:65535/?publicKey=" + kKey + "&networkId=007&tcpPort=1", "h", 65535, "h:65535", 7, 1,
                           "udp://h:65535?publicKey=" + kKey + "&networkId=7&tcpPort=1"}));

struct Bad {
  std::string text;
  Kind kind;
  std::string message;
};

class SuperPeerUrlBadTest : public ::testing::TestWithParam<Bad> {};

TEST_P(SuperPeerUrlBadTest, FailsWithAClearMessage) {
  const Bad& b = GetParam();
  const auto url = SuperPeerUrl::try_from(b.text);
  ASSERT_FALSE(url) << url->to_string();
  EXPECT_EQ(url.error().kind, b.kind) << display(url.error());
  EXPECT_EQ(display(url.error()), "invalid super peer URL: " + b.message);
}

const std::string kParams = "?publicKey=" + kKey + "&networkId=1";
const std::string kMalformed = "malformed URL, expected udp://HOST:PORT?publicKey=HEX&networkId=N[&tcpPort=P]";

INSTANTIATE_TEST_SUITE_P(
    Texts, SuperPeerUrlBadTest,
    ::testing::Values(
        Bad{"", Kind::Malformed, kMalformed}, Bad{"udp://[fe80::1%25eth0]:1" + kParams, Kind::Malformed, kMalformed},
        Bad{"http://h:1" + kParams, Kind::SchemeNotUdp, "scheme must be udp, not 'http'"},
        Bad{"udp://user@h:1" + kParams, Kind::UserInfoPresent, "user information is not allowed"},
        Bad{"udp://:1" + kParams, Kind::Malformed, kMalformed},  // a port without a host is no URL
        Bad{"udp:/h" + kParams, Kind::HostMissing, "missing host"},
        Bad{"udp://h%20x:1" + kParams, Kind::HostInvalid, "invalid host 'h x'"},
        Bad{"udp://h" + kParams, Kind::PortMissing, "missing port"},
        Bad{"udp://h:0" + kParams, Kind::PortInvalid, "invalid port '0'"},
        Bad{"udp://h:65536" + kParams, Kind::Malformed, kMalformed},
        Bad{"udp://h:1/x" + kParams, Kind::PathPresent, "unexpected path '/x'"},
        Bad{"udp://h:1" + kParams + "#f", Kind::FragmentPresent, "fragment is not allowed"},
        Bad{"udp://h:1?networkId=1", Kind::ParameterMissing, "missing parameter publicKey"},
        Bad{"udp://h:1?publicKey=" + kKey, Kind::ParameterMissing, "missing parameter networkId"},
        Bad{"udp://h:1" + kParams + "&networkId=1", Kind::ParameterRepeated,
            "parameter networkId given more than once"},
        Bad{"udp://h:1" + kParams + "&networkID=2", Kind::ParameterUnknown, "unknown parameter 'networkID'"},
        Bad{"udp://h:1?networkId=1&publicKey=" + kKey.substr(2), Kind::PublicKeyInvalid,
            "invalid publicKey: Hex error: Invalid hex string length"},
        Bad{"udp://h:1?networkId=1&publicKey=zz" + kKey.substr(2), Kind::PublicKeyInvalid,
            "invalid publicKey: Hex error: Invalid character in hex string: byte 122"},
        Bad{"udp://h:1?publicKey=" + kKey + "&networkId=-1", Kind::NetworkIdInvalid, "invalid networkId '-1'"},
        Bad{"udp://h:1?publicKey=" + kKey + "&networkId=0x10", Kind::NetworkIdInvalid, "invalid networkId '0x10'"},
        Bad{"udp://h:1" + kParams + "&tcpPort=0", Kind::TcpPortInvalid, "invalid tcpPort '0'"},
        Bad{"udp://h:1" + kParams + "&tcpPort=+5", Kind::TcpPortInvalid, "invalid tcpPort ' 5'"}));

TEST(SuperPeerUrlTest, NetworkIdBytesAreMostSignificantFirst) {
  const auto url = SuperPeerUrl::try_from("udp://h:1?publicKey=" + kKey + "&networkId=16909060");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->network_id_bytes(), (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
}

TEST(SuperPeersDefaultTest, UsableByANode) {
  const auto& list = SUPER_PEERS_DEFAULT();
  ASSERT_FALSE(list.empty());
  std::set<PubKey> keys;
  for (const auto& sp : list) {
    EXPECT_EQ(sp.network_id(), list.front().network_id());  // the node rejects mixed network ids
    EXPECT_TRUE(SuperPeerUrl::try_from(sp.to_string()) == sp) << sp.to_string();
    keys.insert(sp.pk());
    // Armed links convert the key to X25519, which fails for a byte string that is no curve point.
    std::array<std::uint8_t, crypto_scalarmult_curve25519_BYTES> x25519;
    EXPECT_EQ(crypto_sign_ed25519_pk_to_curve25519(x25519.data(), sp.pk().bytes().data()), 0) << sp.to_string();
  }
  EXPECT_EQ(keys.size(), list.size());
}

}  // namespace
}  // namespace valdori::p2p
