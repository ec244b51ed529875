// The spans of the agent and its node, read from the log lines written while each piece runs.
#include <array>
#include <string>
#include <vector>

#include "agent/agent/dns/ldns_handles.hpp"
#include "agent/agent/dns/response_handle.hpp"
#include "overlay_node/node/send.hpp"
#include "tests/agent/agent/housekeeping/housekeeping_fixture.hpp"
#include "tests/support/must.hpp"

namespace valdori::agent::housekeeping::testing {
namespace {

using valdori::testing::must;

// A line that a span's piece, or a piece running inside the span, writes: it is written in the
// span's activities (the span's evidence where it has no field) and ends with its fields.
struct SpanLine {
  const char* span;
  std::string activities;
  std::string target;
  std::string text;    // the line's own text, up to the fields
  std::string fields;  // what follows the text: the spans' fields, then the event's
};

bool written(const std::vector<valdori::testing::CapturedEvent>& events, const SpanLine& line) {
  for (const auto& event : events) {
    if (event.activities == line.activities && event.target == line.target && event.text.starts_with(line.text) &&
        event.text.ends_with(line.fields))
      return true;
  }
  return false;
}

TEST_F(HousekeepingTest, EachSpanIsWrittenWithItsFieldsOnTheLinesOfItsWork) {
  // A new name for the network: the pass saves the configuration.
  const std::string url = write_file("office.toml", network_document(me(), true, "office"));
  join(url);
  const auto inner = this->inner();
  run_pass(inner);

  constexpr std::uint16_t kId = 4242;
  const agent::testing::TunPair tunnel(executor());
  const dns::ResponseHandle responder{{boost::asio::ip::make_address_v4("10.44.0.254"), 53},
                                      {boost::asio::ip::make_address_v4("10.44.0.1"), 40001},
                                      tunnel.device()};
  dns::LdnsPkt response(ldns_pkt_new());
  ldns_pkt_set_id(response.get(), kId);
  ldns_pkt_set_qr(response.get(), true);
  ASSERT_TRUE(block_on(responder.send_response(std::move(response))));

  const p2p::PubKey peer = agent::testing::test_identity().pk();
  const auto handle = must(inner->node->send_handle(peer));
  const std::array<std::uint8_t, 4> payload{1, 2, 3, 4};
  block_on(node::send(*handle, payload));

  const std::string network = " network=" + url;
  const SpanLine lines[] = {
      {"bind", "bind", "valdori_p2p::node::node", "UDP port: ", ""},
      {"node housekeeping pass", "housekeeping", "valdori_p2p::node::housekeeping", "Start housekeeping", ""},
      {"housekeeping_network, its own line", "housekeeping_network", kTarget, "Network config retrieved", network},
      {"housekeeping_network, applying the state", "housekeeping_network", "valdori_agent::agent::dns::mobile",
       "DNS server IP changed: ", network},
      {"housekeeping_network, saving the configuration", "housekeeping_network", "valdori_agent::agent::config",
       "Saving agent config to ", network},
      {"update_tries, inside housekeeping_network", "housekeeping_network:update_tries",
       "valdori_agent::agent::firewall", "Rebuild tries", network},
      {"send_response", "send_response", "valdori_agent::agent::dns::shared", "sending response",
       " id=4242 response_code=NOERROR"},
      {"send", "send", "valdori_p2p::node::send_handle", "Send message", " recipient=" + peer.to_string() + " len=4"},
  };
  // The node's housekeeping passes run on their own timer.
  ASSERT_TRUE(agent::testing::wait_until([&] { return written(logs().events(), lines[1]); }));
  const auto events = logs().events();
  for (const SpanLine& line : lines) EXPECT_TRUE(written(events, line)) << line.span;
}

}  // namespace
}  // namespace valdori::agent::housekeeping::testing
