#include "overlay_node/node/span_log.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>

#include "platform/oslog/oslog.hpp"

namespace valdori::node {
namespace {

// Each event's text with the platform log's activities it was written in: "activities | text".
class ActivitySink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines_.push_back(platform::ActivityScope::current_path() + " | " +
                     std::string(msg.payload.data(), msg.payload.size()));
  }
  void flush_() override {}

 private:
  std::vector<std::string> lines_;
};

class SpanLogTest : public ::testing::Test {
 protected:
  ~SpanLogTest() override { log::set_level(previous_); }

  spdlog::logger& node = log::logger("valdori_test::span::node");
  spdlog::logger& other = log::logger("valdori_test::span::other");

 private:
  log::Level previous_ = log::level();
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
        "housekeeping:node_peer_housekeeping | Core step"}},
      // Below INFO the spans are not entered; the events that pass keep their fields.
      {log::Level::warn, {" | Send failed peer=ab addr=10.0.0.1:5", " | Core step"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(log::Level::warn == c.level ? "warn" : "trace");
    const auto sink = std::make_shared<ActivitySink>();
    log::add_sink(sink);
    log::set_level(c.level);
    const SpanLog pass(node, "housekeeping");
    pass.log(log::Level::trace, "Start housekeeping");
    const SpanLog peer(node, "node_peer_housekeeping", "peer", "ab", &pass);
    peer.log(log::Level::trace, "No app traffic");
    peer.log_with(log::Level::warn, {{"addr", "10.0.0.1:5"}}, "Send {}", "failed");
    peer.within([&] { VLOG_WARN(other, "Core step"); });
    log::remove_sink(sink);
    EXPECT_EQ(sink->lines(), c.lines);
    EXPECT_EQ(platform::ActivityScope::current_path(), "");
  }
}

}  // namespace
}  // namespace valdori::node
