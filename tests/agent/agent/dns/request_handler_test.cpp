#include "agent/agent/dns/request_handler.hpp"

#include <gtest/gtest.h>

#include "dns_samples.hpp"

namespace valdori::agent::dns {
namespace {

using namespace testing;

constexpr int kBadVers = 16;

int full_rcode(const ldns_pkt& pkt) {
  return ldns_pkt_edns_extended_rcode(&pkt) << 4 | static_cast<int>(ldns_pkt_get_rcode(&pkt));
}

// The answer to `query` as a client sees it: encoded and decoded again.
LdnsPkt ask(const DnsCatalog& catalog, const testing::Bytes& query) {
  const LdnsPkt decoded = from_wire(query);
  return from_wire(testing::to_wire(*answer_query(catalog, *decoded)));
}

TEST(AnswerQuery, ResponseCodesAndAnswers) {
  const DnsCatalog catalog = build_catalog(networks({HostnameEntries{{"10.0.0.1", "a"}, {"10.0.0.2", "web-01"}}}));
  struct Case {
    const char* name;
    testing::Bytes query;
    int rcode;
    bool ra;
    std::vector<Ipv4Addr> answers;
  };
  const Case cases[] = {
      {"A of a host", query_wire("web-01.valdori.", LDNS_RR_TYPE_A), LDNS_RCODE_NOERROR, true, {addr("10.0.0.2")}},
      {"ANY of a host", query_wire("a.valdori.", LDNS_RR_TYPE_ANY), LDNS_RCODE_NOERROR, true, {addr("10.0.0.1")}},
      {"AAAA of a host", query_wire("a.valdori.", LDNS_RR_TYPE_AAAA), LDNS_RCODE_NOERROR, true, {}},
      {"A of the zone", query_wire("valdori.", LDNS_RR_TYPE_A), LDNS_RCODE_NOERROR, true, {}},
      {"unknown host", query_wire("nobody.valdori.", LDNS_RR_TYPE_A), LDNS_RCODE_NXDOMAIN, true, {}},
      {"other zone", query_wire("a.example.", LDNS_RR_TYPE_A), LDNS_RCODE_REFUSED, false, {}},
      {"RD clear", query_wire("a.valdori.", LDNS_RR_TYPE_A, {.rd = false}), LDNS_RCODE_REFUSED, false, {}},
      {"class CH",
       query_wire("a.valdori.", LDNS_RR_TYPE_A, {.klass = LDNS_RR_CLASS_CH}),
       LDNS_RCODE_REFUSED,
       false,
       {}},
      {"NOTIFY",
       query_wire("a.valdori.", LDNS_RR_TYPE_A, {.opcode = LDNS_PACKET_NOTIFY}),
       LDNS_RCODE_NOTIMPL,
       false,
       {}},
      {"UPDATE",
       query_wire("valdori.", LDNS_RR_TYPE_SOA, {.opcode = LDNS_PACKET_UPDATE}),
       LDNS_RCODE_REFUSED,
       false,
       {}},
      {"EDNS version 1",
       query_wire("a.valdori.", LDNS_RR_TYPE_A, {.edns_size = 1232, .edns_version = 1}),
       kBadVers,
       false,
       {}},
  };
  for (const Case& c : cases) {
    const LdnsPkt response = ask(catalog, c.query);
    ASSERT_TRUE(response) << c.name;
    EXPECT_EQ(full_rcode(*response), c.rcode) << c.name;
    EXPECT_TRUE(ldns_pkt_qr(response.get())) << c.name;
    EXPECT_FALSE(ldns_pkt_aa(response.get())) << c.name;
    EXPECT_EQ(ldns_pkt_ra(response.get()), c.ra) << c.name;
    EXPECT_EQ(ldns_pkt_id(response.get()), 0x1234) << c.name;
    EXPECT_EQ(ldns_pkt_qdcount(response.get()), 1) << c.name;
    EXPECT_EQ(answer_addresses(*response), c.answers) << c.name;
  }
}

TEST(AnswerQuery, NeedsExactlyOneQuestion) {
  const DnsCatalog catalog = build_catalog(networks({HostnameEntries{{"10.0.0.1", "a"}}}));
  LdnsPkt two = testing::query_pkt("a.valdori.", LDNS_RR_TYPE_A);
  ldns_rr* second = ldns_rr_clone(ldns_rr_list_rr(ldns_pkt_question(two.get()), 0));
  ldns_pkt_push_rr(two.get(), LDNS_SECTION_QUESTION, second);
  LdnsPkt none = testing::query_pkt("a.valdori.", LDNS_RR_TYPE_A);
  ldns_rr_list_deep_free(ldns_pkt_question(none.get()));
  ldns_pkt_set_question(none.get(), ldns_rr_list_new());
  ldns_pkt_set_qdcount(none.get(), 0);

  for (const LdnsPkt* query : {&two, &none}) {
    const LdnsPkt response = ask(catalog, testing::to_wire(**query));
    EXPECT_EQ(ldns_pkt_get_rcode(response.get()), LDNS_RCODE_FORMERR);
    EXPECT_EQ(ldns_pkt_ancount(response.get()), 0);
  }
}

TEST(AnswerQuery, EdnsIsMirroredWithAtLeast512Bytes) {
  const DnsCatalog catalog = build_catalog(networks({HostnameEntries{{"10.0.0.1", "a"}}}));
  struct Case {
    QueryOptions options;
    bool edns;
    std::uint16_t size;
    bool dnssec_ok;
  };
  const Case cases[] = {
      {{}, false, 0, false},
      {{.edns_size = 1232}, true, 1232, false},
      {{.edns_size = 4096, .dnssec_ok = true}, true, 4096, true},
      {{.edns_size = 100}, true, 512, false},
  };
  for (const Case& c : cases) {
    const LdnsPkt response = ask(catalog, query_wire("a.valdori.", LDNS_RR_TYPE_A, c.options));
    EXPECT_EQ(ldns_pkt_edns(response.get()), c.edns) << c.size;
    if (!c.edns) continue;
    EXPECT_EQ(ldns_pkt_edns_udp_size(response.get()), c.size);
    EXPECT_EQ(ldns_pkt_edns_do(response.get()), c.dnssec_ok) << c.size;
    EXPECT_EQ(ldns_pkt_edns_version(response.get()), 0) << c.size;
  }
}

}  // namespace
}  // namespace valdori::agent::dns
