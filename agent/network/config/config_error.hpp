// Errors of the network model: a document that cannot be read, or whose nodes and routes do not
// fit its subnet or each other.
#pragma once

#include <string>
#include <variant>

#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

struct ConfigError {
  struct IpNotInNetwork {
    util::net::Ipv4Addr ip;
    util::net::Ipv4Net network;
    bool operator==(const IpNotInNetwork&) const = default;
  };
  struct GatewayNotFound {
    p2p::PubKey gw;
    bool operator==(const GatewayNotFound&) const = default;
  };
  // The document could not be read; `message` is the TOML reader's rendered error.
  struct TomlError {
    std::string message;
    bool operator==(const TomlError&) const = default;
  };
  struct RouteDuplicate {
    bool operator==(const RouteDuplicate&) const = default;
  };
  struct IpReserved {
    util::net::Ipv4Addr ip;
    bool operator==(const IpReserved&) const = default;
  };
  struct HostnameInvalid {
    std::string hostname;  // as written in the document
    bool operator==(const HostnameInvalid&) const = default;
  };
  struct NetworkAddressInvalid {
    util::net::Ipv4Net dest;
    bool operator==(const NetworkAddressInvalid&) const = default;
  };

  std::variant<IpNotInNetwork, GatewayNotFound, TomlError, RouteDuplicate, IpReserved, HostnameInvalid,
               NetworkAddressInvalid>
      kind;

  bool operator==(const ConfigError&) const = default;
};

// "IP address 10.45.0.1 is not in network 10.44.0.0/24", "duplicate route", ...; a host name as
// written, with its control characters escaped.
std::string display(const ConfigError& error);
// The variant name with its payloads in parentheses: `IpReserved(10.44.0.254)`, `RouteDuplicate`.
std::string debug(const ConfigError& error);

}  // namespace valdori::network::config
