// Text forms of DNS message parts for the log lines of the responder.
#pragma once

#include <string>

#include "agent/agent/dns/ldns_handles.hpp"

namespace valdori::agent::dns {

// The op code: "QUERY", "UPDATE", ..., "OPCODE7" for one without a name.
std::string opcode_text(const ldns_pkt& pkt);
// The response code with its EDNS extension: "NOERROR", "REFUSED", "BADVERS", ..., "RCODE12".
std::string rcode_text(const ldns_pkt& pkt);
// The header flags that are set, comma-separated in header order: "RD,AD".
std::string flags_text(const ldns_pkt& pkt);
// A domain name, record type or class as in zone files: "web-01.valdori.", "A", "IN".
std::string rdf_text(const ldns_rdf* rdf);
std::string rr_type_text(ldns_rr_type type);
std::string rr_class_text(ldns_rr_class klass);

}  // namespace valdori::agent::dns
