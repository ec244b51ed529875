#include <chrono>

#include <boost/asio/this_coro.hpp>

#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "util/runtime/interval.hpp"
#include "util/runtime/race.hpp"

namespace valdori::agent {

namespace {
constexpr std::chrono::seconds kHousekeepingPeriod{10};
}  // namespace

// Passes stay on the grid start + k * 10 s: ticks missed during a long pass run back to back.
// Only the waits between passes watch the token, so a pass that has begun runs to its end.
boost::asio::awaitable<void> AgentInner::housekeeping_runner(std::shared_ptr<AgentInner> inner,
                                                             util::CancellationToken token) {
  util::Interval interval(co_await boost::asio::this_coro::executor, kHousekeepingPeriod);
  while (true) {
    // Awaited into a variable first: GCC 12 miscompiles a negated co_await in a condition.
    const auto ticked = co_await util::until_cancelled(token, interval.tick());
    if (!ticked) {
      VLOG_TRACE(housekeeping::housekeeping_logger(), "Housekeeping runner cancelled");
      break;
    }
    co_await housekeeping(inner);
  }
  VLOG_TRACE(housekeeping::housekeeping_logger(), "Housekeeping runner finished");
}

}  // namespace valdori::agent
