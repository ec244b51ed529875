#include "overlay_node/node/span_log.hpp"

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/oslog/oslog.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node {
namespace {

class SpanLogTest : public ::testing::Test {
 protected:
  // Each event's text with the platform log's activities it was written in: "activities | text".
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& event : capture.events()) out.push_back(event.activities + " | " + event.text);
    return out;
  }

  testing::LogCapture capture;
  spdlog::logger& node = log::logger("valdori_test::span::node");
  spdlog::logger& other = log::logger("valdori_test::span::other");
};

// A node housekeeping pass with one peer's step inside it.
TEST_F(SpanLogTest, EventsCarryTheFieldAndAreWrittenInTheActivitiesOfTheirSpans) {
  struct Case {
    log::Level level;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {log::Level::trace,
       {"housekeeping | Start housekeeping", "housekeeping:node_peer_housekeeping | No app traffic peer=ab",
        "housekeeping:node_peer_housekeeping | Send failed peer=ab addr=10.0.0.1:5",
        "housekeeping:node_peer_housekeeping | Core step peer=ab"}},
      // Below INFO the spans are not entered; the events that pass keep their fields.
      {log::Level::warn, {" | Send failed peer=ab addr=10.0.0.1:5", " | Core step peer=ab"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(log::Level::warn == c.level ? "warn" : "trace");
    capture.clear();
    log::set_level(c.level);
    const SpanLog pass(node, "housekeeping");
    pass.log(log::Level::trace, "Start housekeeping");
    const SpanLog peer(node, "node_peer_housekeeping", "peer", "ab", &pass);
    peer.log(log::Level::trace, "No app traffic");
    peer.log_with(log::Level::warn, {{"addr", "10.0.0.1:5"}}, "Send {}", "failed");
    peer.within([&] { VLOG_WARN(other, "Core step"); });
    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(platform::ActivityScope::current_path(), "");
  }
}

// A span whose stretch of work runs pieces that know nothing of it: a span they open nests in it,
// and the events of every logger carry its field, once, until the stretch ends.
TEST_F(SpanLogTest, AStretchWithinASpanEnclosesTheEventsAndSpansOfOtherPieces) {
  const p2p::PubKey key = p2p::PubKey::from_bytes(std::array<std::uint8_t, 32>{0xab});
  const SpanLog network(node, "housekeeping_network", "network", "file:///n.toml");
  network.within([&] {
    network.log(log::Level::trace, "Retrieved");
    VLOG_TRACE(other, "Saving");
    const SpanLog rebuild(other, "update_tries");
    rebuild.log_with(log::Level::trace, {{"rule", "1"}}, "Rebuild");
    const SpanLog send(other, "send", "recipient", key);
    send.log(log::Level::debug, "Sent");
  });
  VLOG_TRACE(other, "After");
  const std::string field = " network=file:///n.toml";
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "housekeeping_network | Retrieved" + field,
                         "housekeeping_network | Saving" + field,
                         "housekeeping_network:update_tries | Rebuild" + field + " rule=1",
                         "housekeeping_network:send | Sent" + field + " recipient=" + key.to_string(),
                         " | After",
                     }));
}

}  // namespace
}  // namespace valdori::node
