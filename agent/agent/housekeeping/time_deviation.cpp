#include "agent/agent/housekeeping/time_deviation.hpp"

#include "agent/agent/housekeeping/housekeeping_log.hpp"

namespace valdori::agent::housekeeping {

boost::asio::awaitable<void> check_and_update_time_deviation(std::shared_ptr<AgentInner> inner) {
  VLOG_TRACE(housekeeping_logger(), "SNTP synchronization not supported on this platform");
  VLOG_TRACE(housekeeping_logger(), "SNTP synchronization failed, unable to determine time deviation");
  auto guard = co_await inner->state_lock.write();
  inner->state.time_deviation.reset();
}

}  // namespace valdori::agent::housekeeping
