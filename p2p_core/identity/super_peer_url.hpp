// Where a super peer is and who it is, written as
//   udp://HOST:PORT?publicKey=HEX&networkId=N&tcpPort=P
// HOST is a host name, an IPv4 address or a bracketed IPv6 address; PORT (1..65535) is the super
// peer's UDP port. Parameters: publicKey (required, 64 hex digits), networkId (required, decimal
// u32: every super peer of a node must agree on it, so a forgotten one must not default silently),
// tcpPort (optional, 1..65535, defaults to PORT). Unknown or repeated parameters, user
// information, a path other than "/" and a fragment are rejected, so that a typo cannot pass
// unnoticed and nothing is lost when the text is written back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p {

struct SuperPeerUrlError {
  enum class Kind : std::uint8_t {
    Malformed,     // not a URL at all
    SchemeNotUdp,  // detail: the scheme
    UserInfoPresent,
    HostMissing,
    HostInvalid,  // detail: the host
    PortMissing,
    PortInvalid,  // detail: the port text
    PathPresent,  // detail: the path
    FragmentPresent,
    ParameterMissing,   // detail: the parameter name
    ParameterRepeated,  // detail: the parameter name
    ParameterUnknown,   // detail: the parameter name
    PublicKeyInvalid,   // detail: the key parser's message
    NetworkIdInvalid,   // detail: the value
    TcpPortInvalid,     // detail: the value
  };
  Kind kind;
  std::string detail;

  bool operator==(const SuperPeerUrlError&) const = default;
};

// Display form: "invalid super peer URL: " followed by what is wrong, e.g.
// "invalid super peer URL: missing parameter publicKey".
std::string display(const SuperPeerUrlError& e);

class SuperPeerUrl {
 public:
  static boost::system::result<SuperPeerUrl, SuperPeerUrlError> try_from(std::string_view text);

  // The canonical text, with every parameter written; try_from(to_string()) gives an equal value.
  std::string to_string() const;

  // "host:port" as the node resolves it; an IPv6 host is in brackets.
  std::string addr() const;
  // The host name or address, without brackets.
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  const PubKey& pk() const { return pk_; }
  std::uint32_t network_id() const { return network_id_; }
  // The network id as carried on the wire, most significant byte first.
  std::array<std::uint8_t, 4> network_id_bytes() const;
  std::uint16_t tcp_port() const { return tcp_port_; }

  bool operator==(const SuperPeerUrl&) const = default;

 private:
  SuperPeerUrl() = default;

  std::string host_;
  bool host_is_ipv6_ = false;
  std::uint16_t port_ = 0;
  PubKey pk_;
  std::uint32_t network_id_ = 0;
  std::uint16_t tcp_port_ = 0;
};

// The built-in super peers, used when the configuration names none.
const std::vector<SuperPeerUrl>& SUPER_PEERS_DEFAULT();

}  // namespace valdori::p2p
