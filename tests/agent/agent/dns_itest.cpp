// DNS queries an application sends into A's tunnel to the responder address its host was given
// are answered from the host names of the network, as a packet a kernel accepts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/agent/agent/agent_pair.hpp"
#include "tests/agent/agent/dns/dns_samples.hpp"

namespace valdori::agent::testing {
namespace {

using dns::testing::answer_addresses;
using dns::testing::from_wire;
using dns::testing::query_wire;

constexpr std::uint16_t kDnsPort = 53;

using AgentDnsQueries = AgentPairTest;

TEST_P(AgentDnsQueries, HostNamesResolveThroughTheResponderAddressTheHostWasGiven) {
  const auto change = agents().a().changes->last();
  ASSERT_TRUE(change && change->dns_server);
  const Ipv4Addr responder = *change->dns_server;
  EXPECT_EQ(responder, plan().dns_responder);

  struct Case {
    const char* name;
    ldns_pkt_rcode rcode;
    std::vector<Ipv4Addr> addresses;
  };
  const std::vector<Case> cases = {
      {"bravo.valdori.", LDNS_RCODE_NOERROR, {plan().b}},
      {"ALPHA.valdori.", LDNS_RCODE_NOERROR, {plan().a}},
      {"charlie.valdori.", LDNS_RCODE_NOERROR, {plan().c}},
      // No policy lets A talk to D, so A's host names leave D out.
      {"delta.valdori.", LDNS_RCODE_NXDOMAIN, {}},
  };
  std::uint16_t client_port = 40000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++client_port;
    const dns::testing::QueryOptions options{.id = client_port};
    tun_a().inject(udp_packet(plan().a, client_port, responder, kDnsPort, query_wire(c.name, LDNS_RR_TYPE_A, options)));

    const auto reply = tun_a().receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(protocol(*reply), kProtocolUdp);
    EXPECT_EQ(source(*reply), responder);
    EXPECT_EQ(destination(*reply), plan().a);
    EXPECT_TRUE(ipv4_checksum_ok(*reply));
    EXPECT_TRUE(udp_checksum_ok(*reply));
    const auto datagram = ip_payload(*reply);
    EXPECT_EQ(load16(datagram, 0), kDnsPort);
    EXPECT_EQ(load16(datagram, 2), client_port);

    const auto payload = udp_payload(*reply);
    const auto answer = from_wire(Bytes(payload.begin(), payload.end()));
    ASSERT_TRUE(answer);
    EXPECT_EQ(ldns_pkt_id(answer.get()), client_port);
    EXPECT_TRUE(ldns_pkt_qr(answer.get()));
    EXPECT_EQ(ldns_pkt_get_rcode(answer.get()), c.rcode);
    EXPECT_EQ(answer_addresses(*answer), c.addresses);
  }
}

INSTANTIATE_TEST_SUITE_P(Framings, AgentDnsQueries, kFramings, framing_name);

}  // namespace
}  // namespace valdori::agent::testing
