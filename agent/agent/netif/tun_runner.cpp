#include "agent/agent/netif/tun_runner.hpp"

#include <exception>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/netif/tun_to_overlay.hpp"
#include "util/log/log.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/task_set.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent::netif {
namespace {

namespace asio = boost::asio;
using RunnerResult = boost::system::result<void, std::string>;

spdlog::logger& runner_logger() { return log::module_logger<"valdori_agent::agent::netif">(); }

spdlog::logger& supervisor_logger() { return log::module_logger<"valdori_agent::agent::netif::mobile">(); }

}  // namespace

asio::any_io_executor tun_device_executor(const asio::any_io_executor& executor) {
  return util::direction_lanes(executor).outbound;
}

asio::awaitable<void> tun_supervisor(std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device,
                                     util::CancellationToken token, ReadClock clock) {
  if (!device) co_return;
  RunnerResult ran = boost::system::in_place_value;
  try {
    ran = co_await tun_runner(inner, std::move(device), token, std::move(clock));
  } catch (const std::exception& e) {
    ran = RunnerResult(boost::system::in_place_error, e.what());
  } catch (...) {
    ran = RunnerResult(boost::system::in_place_error, "unknown exception");
  }
  if (ran) {
    VLOG_TRACE(supervisor_logger(), "TUN runner finished");
  } else {
    VLOG_ERROR(supervisor_logger(), "TUN runner failed: {}", util::text::escape_controls(ran.error()));
    inner->token.cancel();
  }
}

asio::awaitable<RunnerResult> tun_runner(std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device,
                                         util::CancellationToken token, ReadClock clock) {
  const std::int32_t count = tun_threads();
  // The workers read the device as an I/O object of the outbound lane, so that a read completes
  // on the thread that queues the packet and sends it (the device itself when the host made it
  // there).
  auto on_lane = device->on_executor(inner->lanes.outbound);
  if (!on_lane) co_return RunnerResult(boost::system::in_place_error, "TUN device: " + on_lane.error().message());
  // Leaving the runner destroys the set, which aborts the workers still running.
  util::TaskSet<void> tasks(inner->lanes.outbound);
  const auto turns = std::make_shared<util::Turns>(inner->lanes.outbound);
  for (std::int32_t i = 0; i < count; ++i) {
    tasks.spawn(tun_to_overlay(inner, *on_lane, turns, token, i, count, clock));
  }
  // The workers end through the token; one that breaks down ends the whole tunnel direction.
  while (const auto outcome = co_await tasks.join_next()) {
    if (!outcome->returned()) {
      RunnerResult failed(boost::system::in_place_error, "TUN task failed: " + outcome->message);
      co_return failed;
    }
  }
  VLOG_TRACE(runner_logger(), "TUN runner done.");
  co_return boost::system::in_place_value;
}

}  // namespace valdori::agent::netif
