#include <algorithm>
#include <future>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_future.hpp>

#include "tests/agent/agent/housekeeping/housekeeping_fixture.hpp"

namespace valdori::agent::housekeeping::testing {
namespace {

using Level = log::Level;
namespace asio = boost::asio;

std::size_t count(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), text));
}

TEST_F(HousekeepingTest, RunnerPassesAtOnceAndEndsWhenCancelled) {
  struct Case {
    const char* name;
    bool cancelled_before_start;
    std::size_t passes;
  };
  for (const Case& c : {Case{"cancelled after the first pass", false, 1}, Case{"cancelled before", true, 0}}) {
    SCOPED_TRACE(c.name);
    auto inner = this->inner();
    logs().clear();
    util::CancellationToken token;
    if (c.cancelled_before_start) token.cancel();

    auto runner =
        asio::co_spawn(asio::make_strand(executor()), AgentInner::housekeeping_runner(inner, token), asio::use_future);
    if (!c.cancelled_before_start) {
      ASSERT_TRUE(agent::testing::wait_until([&] { return logged(Level::trace, "Finished housekeeping"); }));
      token.cancel();
    }
    ASSERT_EQ(runner.wait_for(agent::testing::kWaitLimit), std::future_status::ready);
    runner.get();

    const auto traces = lines(Level::trace);
    EXPECT_EQ(count(traces, "Finished housekeeping"), c.passes);
    const auto cancelled = std::find(traces.begin(), traces.end(), "Housekeeping runner cancelled");
    ASSERT_NE(cancelled, traces.end());
    ASSERT_NE(cancelled + 1, traces.end());
    EXPECT_EQ(*(cancelled + 1), "Housekeeping runner finished");
  }
}

}  // namespace
}  // namespace valdori::agent::housekeeping::testing
