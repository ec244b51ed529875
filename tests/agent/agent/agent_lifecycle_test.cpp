#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/agent/agent.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent {
namespace {

using testing::AgentTestbed;
using valdori::testing::CapturedEvent;
using valdori::testing::LogCapture;

// The texts of the events of `target`, in order.
std::vector<std::string> lines_of(const LogCapture& logs, const std::string& target) {
  std::vector<std::string> lines;
  for (const CapturedEvent& e : logs.events()) {
    if (e.target == target) lines.push_back(e.text);
  }
  return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(AgentLifecycle, StartsShutsDownAndDropsWithItsLogLines) {
  AgentTestbed bed;
  LogCapture logs;
  std::optional<Agent> agent = bed.start(bed.config());
  EXPECT_EQ(
      lines_of(logs, "valdori_agent::agent"),
      (std::vector<std::string>{"Start agent.", "Update check is not available on this platform", "Agent started."}));
  logs.clear();

  bed.runtime().block_on(agent->shutdown());
  EXPECT_TRUE(agent->inner()->token.is_cancelled());
  const auto agent_lines = lines_of(logs, "valdori_agent::agent");
  ASSERT_GE(agent_lines.size(), 2u);
  EXPECT_EQ(agent_lines.front(), "Shutdown agent.");
  EXPECT_TRUE(contains(agent_lines, "Agent shut down."));
  EXPECT_EQ(lines_of(logs, "valdori_agent::agent::inner"), (std::vector<std::string>{"Cancel agent token"}));

  // Both members end through the token; the monitoring task then finds its set empty.
  ASSERT_TRUE(testing::wait_until(
      [&] { return contains(lines_of(logs, "valdori_agent::agent"), "Monitoring task cancelled."); }));
  EXPECT_FALSE(contains(lines_of(logs, "valdori_agent::agent"), "Task prematurely finished. Cancel token."));
  EXPECT_TRUE(contains(lines_of(logs, "valdori_agent::agent::node"), "Node runner done."));
  EXPECT_TRUE(contains(lines_of(logs, "valdori_agent::agent::housekeeping"), "Housekeeping runner finished"));

  logs.clear();
  agent.reset();
  EXPECT_EQ(lines_of(logs, "valdori_agent::agent"), (std::vector<std::string>{"Drop agent."}));
}

// The host learns only a code from a failed start: the reason goes to the log.
TEST(AgentLifecycle, AFailedStartLogsItsReason) {
  AgentTestbed bed;
  AgentConfig config = bed.config();
  config.super_peers = std::vector<p2p::SuperPeerUrl>{};
  LogCapture logs;
  auto started = bed.runtime().block_on(Agent::start(bed.runtime().executor(), std::move(config), {}, {}));
  ASSERT_FALSE(started);
  EXPECT_TRUE(logs.has(log::Level::err, "Failed to start agent: " + started.error().to_string()));
}

TEST(AgentLifecycle, AnUpdateCheckSwitchedOffIsNotMentioned) {
  AgentTestbed bed;
  LogCapture logs;
  AgentConfig config = bed.config();
  config.update_check = false;
  Agent agent = bed.start(std::move(config));
  EXPECT_FALSE(logs.has(log::Level::debug, "Update check is not available on this platform"));
  bed.runtime().block_on(agent.shutdown());
}

TEST(AgentLifecycle, DroppingTheHandleStopsNothing) {
  AgentTestbed bed;
  std::weak_ptr<AgentInner> core;
  {
    Agent agent = bed.start(bed.config());
    core = agent.inner();
  }
  // The tasks hold the core and run on.
  const auto inner = core.lock();
  ASSERT_TRUE(inner);
  EXPECT_FALSE(inner->token.is_cancelled());
  bed.runtime().block_on(AgentInner::shutdown(inner));
}

}  // namespace
}  // namespace valdori::agent
