// What the embedded responder answers to one query message, from the current catalogue.
//
// The zone is served as a non-authoritative one: AA is never set, a question needs RD, and
// answers come with RA set. In order:
//   - not exactly one question: FORMERR;
//   - an UPDATE: REFUSED (the zone is not updated); any other op code but QUERY: NOTIMP;
//   - an EDNS version above 0: BADVERS;
//   - a class other than IN, a name outside the zone (or no zone yet), RD clear: REFUSED;
//   - a host name of the zone: its A records for an A or ANY question, none for other types;
//     the zone's own name: no records; any other name in the zone: NXDOMAIN.
// The question is echoed; a query with EDNS gets EDNS back, its payload size (at least 512)
// and DO bit mirrored.
#pragma once

#include "agent/agent/dns/catalog.hpp"
#include "agent/agent/dns/ldns_handles.hpp"

namespace valdori::agent::dns {

// `query` is a decoded message with QR clear.
LdnsPkt answer_query(const DnsCatalog& catalog, const ldns_pkt& query);

}  // namespace valdori::agent::dns
