#include "agent/agent/dns/response_handle.hpp"

#include <gtest/gtest.h>

#include "agent/agent/dns/request_handler.hpp"
#include "dns_samples.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::dns {
namespace {

using agent::testing::TunPair;
using namespace testing;

// An answer with `count` A records for one name.
LdnsPkt answer_with_records(int count, const QueryOptions& options = {}) {
  std::vector<std::string> ips;
  for (int i = 0; i < count; ++i) ips.push_back("10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1));
  testing::HostnameEntries entries;
  for (const auto& ip : ips) entries.emplace_back(ip.c_str(), "many");
  const DnsCatalog catalog = build_catalog(testing::networks({entries}));
  return answer_query(catalog, *query_pkt("many.valdori.", LDNS_RR_TYPE_A, options));
}

TEST(ResponseHandle, TruncatesToTheAnnouncedPayloadSize) {
  util::Runtime runtime(1);
  TunPair tunnel(runtime.executor());
  const ResponseHandle handle{kResponder, kClient, tunnel.device()};
  struct Case {
    const char* name;
    QueryOptions options;
    std::size_t limit;
    bool truncated;
  };
  const Case cases[] = {
      {"no EDNS", {}, 512, true},
      {"EDNS 1232", {.edns_size = 1232}, 1232, true},
      {"EDNS 4096", {.edns_size = 4096}, 4096, false},
  };
  for (const Case& c : cases) {
    valdori::testing::LogCapture capture;
    ASSERT_TRUE(runtime.block_on(handle.send_response(answer_with_records(100, c.options))).has_value()) << c.name;
    const auto packet = tunnel.receive(kNoWait);
    ASSERT_TRUE(packet.has_value()) << c.name;
    const auto reply = parse_reply(*packet);
    EXPECT_LE(reply.message.size(), c.limit) << c.name;
    const LdnsPkt message = from_wire(reply.message);
    EXPECT_EQ(ldns_pkt_tc(message.get()), c.truncated) << c.name;
    EXPECT_EQ(ldns_pkt_get_rcode(message.get()), LDNS_RCODE_NOERROR) << c.name;
    const std::size_t answers = ldns_pkt_ancount(message.get());
    if (c.truncated) {
      EXPECT_GT(answers, 0u) << c.name;
      EXPECT_LT(answers, 100u) << c.name;
      // Nothing left out that would still have fitted.
      EXPECT_GT(reply.message.size() + 16, c.limit) << c.name;
    } else {
      EXPECT_EQ(answers, 100u) << c.name;
    }
    EXPECT_EQ(ldns_pkt_edns(message.get()), c.options.edns_size.has_value()) << c.name;
    EXPECT_TRUE(
        capture.has(log::Level::trace, "setting response max size: " + std::to_string(c.limit) +
                                           " for protocol: Udp id=" + std::to_string(ldns_pkt_id(message.get()))))
        << c.name;
  }
}

// A malformed query can carry hundreds of questions, and an error reply echoes them.
TEST(ResponseHandle, EchoedQuestionsAreTruncatedToo) {
  util::Runtime runtime(1);
  TunPair tunnel(runtime.executor());
  const ResponseHandle handle{kResponder, kClient, tunnel.device()};
  const LdnsPkt query = query_pkt("a-rather-long-name-for-a-question.valdori.", LDNS_RR_TYPE_A);
  const ldns_rr* question = ldns_rr_list_rr(ldns_pkt_question(query.get()), 0);
  for (int i = 0; i < 119; ++i) ldns_pkt_push_rr(query.get(), LDNS_SECTION_QUESTION, ldns_rr_clone(question));
  const DnsCatalog catalog = build_catalog(testing::networks({}));
  ASSERT_TRUE(runtime.block_on(handle.send_response(answer_query(catalog, *query))).has_value());
  const auto packet = tunnel.receive(kNoWait);
  ASSERT_TRUE(packet.has_value());
  const auto reply = parse_reply(*packet);
  EXPECT_LE(reply.message.size(), 512u);
  const LdnsPkt message = from_wire(reply.message);
  EXPECT_TRUE(ldns_pkt_tc(message.get()));
  EXPECT_EQ(ldns_pkt_get_rcode(message.get()), LDNS_RCODE_FORMERR);
}

TEST(FallbackServfail, IsABareHeaderWithTheId) {
  const std::array<std::uint8_t, 12> expected = {0xBE, 0xEF, 0x80, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(encode_fallback_servfail_response(0xBEEF), expected);
}

}  // namespace
}  // namespace valdori::agent::dns
