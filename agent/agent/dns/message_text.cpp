#include "agent/agent/dns/message_text.hpp"

#include <fmt/format.h>

#include "agent/agent/dns/ldns_handles.hpp"

namespace valdori::agent::dns {
namespace {

constexpr int kRcodeBadVers = 16;

std::string text_or(char* allocated, std::string fallback) {
  const LdnsText text(allocated);
  return text ? std::string(text.get()) : std::move(fallback);
}

}  // namespace

std::string opcode_text(const ldns_pkt& pkt) {
  // ldns keeps whatever 4-bit op code a message carries in its enum of the named ones; taken as
  // a number at once, an unnamed one (8 to 15, beyond the enum's range) is never held in it.
  const int opcode = static_cast<int>(ldns_pkt_get_opcode(&pkt));
  const ldns_lookup_table* entry = ldns_lookup_by_id(ldns_opcodes, opcode);
  return entry ? std::string(entry->name) : fmt::format("OPCODE{}", opcode);
}

std::string rcode_text(const ldns_pkt& pkt) {
  const int rcode = ldns_pkt_edns_extended_rcode(&pkt) << 4 | static_cast<int>(ldns_pkt_get_rcode(&pkt));
  if (rcode == kRcodeBadVers) return "BADVERS";
  const ldns_lookup_table* entry = ldns_lookup_by_id(ldns_rcodes, rcode);
  return entry ? std::string(entry->name) : fmt::format("RCODE{}", rcode);
}

std::string flags_text(const ldns_pkt& pkt) {
  const std::pair<bool, const char*> flags[] = {
      {ldns_pkt_qr(&pkt), "QR"}, {ldns_pkt_aa(&pkt), "AA"}, {ldns_pkt_tc(&pkt), "TC"}, {ldns_pkt_rd(&pkt), "RD"},
      {ldns_pkt_ra(&pkt), "RA"}, {ldns_pkt_ad(&pkt), "AD"}, {ldns_pkt_cd(&pkt), "CD"},
  };
  std::string text;
  for (const auto& [set, name] : flags) {
    if (!set) continue;
    if (!text.empty()) text += ',';
    text += name;
  }
  return text;
}

std::string rdf_text(const ldns_rdf* rdf) { return text_or(ldns_rdf2str(rdf), "?"); }

std::string rr_type_text(ldns_rr_type type) {
  return text_or(ldns_rr_type2str(type), fmt::format("TYPE{}", static_cast<int>(type)));
}

std::string rr_class_text(ldns_rr_class klass) {
  return text_or(ldns_rr_class2str(klass), fmt::format("CLASS{}", static_cast<int>(klass)));
}

}  // namespace valdori::agent::dns
