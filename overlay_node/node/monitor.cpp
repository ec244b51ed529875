#include "overlay_node/node/monitor.hpp"

#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::node {

boost::asio::awaitable<void> monitor(std::shared_ptr<util::TaskSet<void>> tasks, util::CancellationToken token,
                                     spdlog::logger& logger) {
  while (const auto outcome = co_await tasks->join_next()) {
    if (!outcome->returned()) {
      VLOG_ERROR(logger, "Task failed. Cancel token: {}", util::text::escape_controls(outcome->message));
      token.cancel();
      break;
    }
    if (!token.is_cancelled()) {
      VLOG_TRACE(logger, "Task prematurely finished. Cancel token.");
      token.cancel();
    }
  }
  VLOG_TRACE(logger, "Monitoring task cancelled.");
}

}  // namespace valdori::node
