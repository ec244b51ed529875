// The DNS catalogue of the embedded responder: one zone, the host-name zone, holding an A
// record (TTL 10, class IN) for every host name of the overlay networks. A catalogue is
// immutable; a change of host names builds a new one that replaces the old one whole, so the
// packet path reads it without a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "agent/agent/config.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::agent::dns {

using util::net::Ipv4Addr;

inline constexpr std::uint32_t kRecordTtl = 10;

class DnsCatalog {
 public:
  enum class Outcome : std::uint8_t {
    OutsideZone,  // not in the host-name zone, or the catalogue has no zone yet
    NoSuchName,   // in the zone, but no node has that name
    Found,        // a node's name, or the zone itself (which has no records of its own)
  };
  struct Lookup {
    Outcome outcome;
    std::span<const Ipv4Addr> addresses;  // the name's A records when found
  };

  // The catalogue before any host names were applied: it has no zone, so every question is
  // outside it.
  DnsCatalog() = default;

  // `name`: a domain name in uncompressed wire form (length-prefixed labels ending with the
  // root). Names compare case-insensitively.
  Lookup lookup(std::span<const std::uint8_t> name) const;

 private:
  friend DnsCatalog build_catalog(const NetworkMap& networks);

  struct LabelHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view label) const { return std::hash<std::string_view>{}(label); }
  };
  struct LabelEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
  };
  // Host label in lower case to its addresses, each once.
  using Hosts = boost::unordered_flat_map<std::string, std::vector<Ipv4Addr>, LabelHash, LabelEqual>;

  bool has_zone_ = false;
  Hosts hosts_;
};

// The catalogue of the desired host-name lists of every network (disabled ones too). A name
// that is not a DNS label is left out with a warning.
DnsCatalog build_catalog(const NetworkMap& networks);

}  // namespace valdori::agent::dns
