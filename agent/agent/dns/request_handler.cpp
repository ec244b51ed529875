#include "agent/agent/dns/request_handler.hpp"

#include <algorithm>
#include <array>

#include "p2p_core/message/layout.hpp"

namespace valdori::agent::dns {
namespace {

// Below this, an EDNS payload size counts as 512 (RFC 6891).
constexpr std::uint16_t kMinUdpPayloadSize = 512;
// BADVERS is 16: 1 in the EDNS extension of the response code, 0 in the header.
constexpr std::uint8_t kBadVersExtendedRcode = 1;

LdnsPkt response_to(const ldns_pkt& query) {
  LdnsPkt response(ldns_pkt_new());
  ldns_pkt* r = response.get();
  ldns_pkt_set_id(r, ldns_pkt_id(&query));
  ldns_pkt_set_qr(r, true);
  ldns_pkt_set_opcode(r, ldns_pkt_get_opcode(&query));
  ldns_pkt_set_rd(r, ldns_pkt_rd(&query));
  ldns_pkt_set_cd(r, ldns_pkt_cd(&query));
  const ldns_rr_list* questions = ldns_pkt_question(&query);
  for (std::size_t i = 0; i < ldns_rr_list_rr_count(questions); ++i) {
    ldns_pkt_push_rr(r, LDNS_SECTION_QUESTION, ldns_rr_clone(ldns_rr_list_rr(questions, i)));
  }
  if (ldns_pkt_edns(&query)) {
    ldns_pkt_set_edns_udp_size(r, std::max(ldns_pkt_edns_udp_size(&query), kMinUdpPayloadSize));
    ldns_pkt_set_edns_do(r, ldns_pkt_edns_do(&query));
  }
  return response;
}

ldns_rr* a_record(const ldns_rdf* owner, const Ipv4Addr& address) {
  ldns_rr* rr = ldns_rr_new();
  ldns_rr_set_owner(rr, ldns_rdf_clone(owner));
  ldns_rr_set_type(rr, LDNS_RR_TYPE_A);
  ldns_rr_set_class(rr, LDNS_RR_CLASS_IN);
  ldns_rr_set_ttl(rr, kRecordTtl);
  std::array<std::uint8_t, 4> data{};
  p2p::message::store_big_endian(data.data(), address.to_uint());
  ldns_rr_push_rdf(rr, ldns_rdf_new_frm_data(LDNS_RDF_TYPE_A, data.size(), data.data()));
  return rr;
}

void answer_from_zone(const DnsCatalog& catalog, const ldns_rr& question, ldns_pkt* response) {
  const ldns_rdf* name = ldns_rr_owner(&question);
  const auto lookup = name ? catalog.lookup({ldns_rdf_data(name), ldns_rdf_size(name)})
                           : DnsCatalog::Lookup{DnsCatalog::Outcome::OutsideZone, {}};
  if (ldns_rr_get_class(&question) != LDNS_RR_CLASS_IN || lookup.outcome == DnsCatalog::Outcome::OutsideZone ||
      !ldns_pkt_rd(response)) {
    ldns_pkt_set_rcode(response, LDNS_RCODE_REFUSED);
    return;
  }
  ldns_pkt_set_ra(response, true);
  if (lookup.outcome == DnsCatalog::Outcome::NoSuchName) {
    ldns_pkt_set_rcode(response, LDNS_RCODE_NXDOMAIN);
    return;
  }
  ldns_pkt_set_rcode(response, LDNS_RCODE_NOERROR);
  const ldns_rr_type type = ldns_rr_get_type(&question);
  if (type != LDNS_RR_TYPE_A && type != LDNS_RR_TYPE_ANY) return;
  // Owned by the question's name as asked, so its letter case comes back unchanged.
  for (const Ipv4Addr& address : lookup.addresses) {
    ldns_pkt_push_rr(response, LDNS_SECTION_ANSWER, a_record(name, address));
  }
}

}  // namespace

LdnsPkt answer_query(const DnsCatalog& catalog, const ldns_pkt& query) {
  LdnsPkt response = response_to(query);
  ldns_pkt* r = response.get();
  const ldns_rr_list* questions = ldns_pkt_question(&query);
  if (ldns_rr_list_rr_count(questions) != 1) {
    ldns_pkt_set_rcode(r, LDNS_RCODE_FORMERR);
  } else if (ldns_pkt_get_opcode(&query) == LDNS_PACKET_UPDATE) {
    ldns_pkt_set_rcode(r, LDNS_RCODE_REFUSED);
  } else if (ldns_pkt_get_opcode(&query) != LDNS_PACKET_QUERY) {
    ldns_pkt_set_rcode(r, LDNS_RCODE_NOTIMPL);
  } else if (ldns_pkt_edns(&query) && ldns_pkt_edns_version(&query) > 0) {
    ldns_pkt_set_edns_extended_rcode(r, kBadVersExtendedRcode);
  } else {
    answer_from_zone(catalog, *ldns_rr_list_rr(questions, 0), r);
  }
  return response;
}

}  // namespace valdori::agent::dns
