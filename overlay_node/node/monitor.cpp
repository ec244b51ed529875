#include "overlay_node/node/monitor.hpp"

#include "util/log/log.hpp"

namespace valdori::node {
namespace {

spdlog::logger& lg() {
  static spdlog::logger& logger = log::logger("valdori_p2p::node::node");
  return logger;
}

}  // namespace

boost::asio::awaitable<void> monitor(std::shared_ptr<util::TaskSet<void>> tasks, util::CancellationToken token) {
  while (const auto outcome = co_await tasks->join_next()) {
    if (!outcome->returned()) {
      VLOG_ERROR(lg(), "Task failed. Cancel token: {}", outcome->message);
      token.cancel();
      break;
    }
    if (!token.is_cancelled()) {
      VLOG_TRACE(lg(), "Task prematurely finished. Cancel token.");
      token.cancel();
    }
  }
  VLOG_TRACE(lg(), "Monitoring task cancelled.");
}

}  // namespace valdori::node
