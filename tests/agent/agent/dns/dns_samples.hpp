// Queries, catalogues and reply checks shared by the DNS responder tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent/config.hpp"
#include "agent/agent/dns/catalog.hpp"
#include "agent/agent/dns/ldns_handles.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::dns::testing {

using Bytes = std::vector<std::uint8_t>;

inline Ipv4Addr addr(const char* text) { return *util::net::parse_ipv4_addr(text); }

struct QueryOptions {
  bool rd = true;
  std::optional<std::uint16_t> edns_size{};  // EDNS record with this payload size
  std::uint8_t edns_version = 0;
  bool dnssec_ok = false;
  ldns_pkt_opcode opcode = LDNS_PACKET_QUERY;
  ldns_rr_class klass = LDNS_RR_CLASS_IN;
  std::uint16_t id = 0x1234;
};

inline LdnsPkt query_pkt(const char* name, ldns_rr_type type, const QueryOptions& options = {}) {
  ldns_pkt* pkt = nullptr;
  EXPECT_EQ(ldns_pkt_query_new_frm_str(&pkt, name, type, options.klass, options.rd ? LDNS_RD : 0), LDNS_STATUS_OK);
  ldns_pkt_set_id(pkt, options.id);
  ldns_pkt_set_opcode(pkt, options.opcode);
  if (options.edns_size) {
    ldns_pkt_set_edns_udp_size(pkt, *options.edns_size);
    ldns_pkt_set_edns_version(pkt, options.edns_version);
    ldns_pkt_set_edns_do(pkt, options.dnssec_ok);
  }
  return LdnsPkt(pkt);
}

inline Bytes to_wire(const ldns_pkt& pkt) {
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  EXPECT_EQ(ldns_pkt2wire(&wire, &pkt, &size), LDNS_STATUS_OK);
  const LdnsWire owned(wire);
  return Bytes(wire, wire + size);
}

inline Bytes query_wire(const char* name, ldns_rr_type type, const QueryOptions& options = {}) {
  return to_wire(*query_pkt(name, type, options));
}

inline LdnsPkt from_wire(const Bytes& wire) {
  ldns_pkt* pkt = nullptr;
  EXPECT_EQ(ldns_wire2pkt(&pkt, wire.data(), wire.size()), LDNS_STATUS_OK);
  return LdnsPkt(pkt);
}

// The A addresses of a message's answer section, in order, after checking each record's
// class and TTL.
inline std::vector<Ipv4Addr> answer_addresses(const ldns_pkt& pkt) {
  std::vector<Ipv4Addr> addresses;
  const ldns_rr_list* answers = ldns_pkt_answer(&pkt);
  for (std::size_t i = 0; i < ldns_rr_list_rr_count(answers); ++i) {
    const ldns_rr* rr = ldns_rr_list_rr(answers, i);
    EXPECT_EQ(ldns_rr_get_type(rr), LDNS_RR_TYPE_A);
    EXPECT_EQ(ldns_rr_get_class(rr), LDNS_RR_CLASS_IN);
    EXPECT_EQ(ldns_rr_ttl(rr), 10u);
    const ldns_rdf* data = ldns_rr_rdf(rr, 0);
    const std::uint8_t* b = ldns_rdf_data(data);
    addresses.emplace_back(Ipv4Addr::bytes_type{b[0], b[1], b[2], b[3]});
  }
  return addresses;
}

// A network map whose networks have these desired host-name lists (none: absent).
using HostnameEntries = std::vector<std::pair<const char*, const char*>>;  // address, host name
inline NetworkMap networks(const std::vector<std::optional<HostnameEntries>>& lists) {
  NetworkMap map;
  int n = 0;
  for (const auto& list : lists) {
    network::Network network;
    network.config_url = "https://example.com/network-" + std::to_string(n++) + ".toml";
    if (list) {
      network::config::HostnameList hostnames;
      for (const auto& [ip, name] : *list) hostnames.hostnames.emplace(addr(ip), name);
      network.desired_state.hostnames.applied = std::move(hostnames);
    }
    map.emplace(*util::Url::parse(network.config_url), std::move(network));
  }
  return map;
}

}  // namespace valdori::agent::dns::testing
