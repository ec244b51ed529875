// One housekeeping pass: the controller's network list and the connection status, the
// controller networks brought in line with it, every network retrieved and applied in turn, the
// host told about changed interface settings, the clock deviation recorded, and, with a
// controller, the metrics uploaded. Each step takes
// its own state guard and releases it before the next; none is held while a step awaits another
// that takes the lock itself.
#include <cstddef>
#include <memory>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "agent/agent/housekeeping/controller_network_list.hpp"
#include "agent/agent/housekeeping/controller_network_sync.hpp"
#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/agent/housekeeping/housekeeping_network.hpp"
#include "agent/agent/housekeeping/send_metrics.hpp"
#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;
using housekeeping::ControllerNetworks;
using housekeeping::housekeeping_logger;

// A large network document leaves its memory free but held by the allocator's arenas, where the
// agent may never use it again (a 4 MB document kept hundreds of MB resident); past this much
// free memory held, it goes back to the system.
constexpr std::size_t kHeldFreeMemoryLimit = 32 * 1024 * 1024;

void return_freed_memory() {
#if defined(__GLIBC__)
  if (mallinfo2().fordblks > kHeldFreeMemoryLimit) malloc_trim(0);
#endif
}

// Networks one after another, in the map's order, each with the pass's controller list.
asio::awaitable<void> housekeep_networks(const std::shared_ptr<AgentInner>& inner,
                                         const std::shared_ptr<const ControllerNetworks>& cached) {
  std::vector<util::Url> urls;
  {
    auto guard = co_await inner->state_lock.read();
    for (const auto& [url, joined] : inner->state.config.networks) urls.push_back(url);
  }
  VLOG_TRACE(housekeeping_logger(), "Got network keys");
  VLOG_TRACE(housekeeping_logger(), "Running housekeeping for each network");
  for (util::Url& url : urls) co_await housekeeping::housekeeping_network(inner, std::move(url), cached);
  VLOG_TRACE(housekeeping_logger(), "Finished housekeeping");
}

// No time server can be asked on this platform, so the clock deviation the status report shows is
// recorded as unknown.
asio::awaitable<void> check_and_update_time_deviation(const std::shared_ptr<AgentInner>& inner) {
  VLOG_TRACE(housekeeping_logger(), "SNTP synchronization not supported on this platform");
  VLOG_TRACE(housekeeping_logger(), "SNTP synchronization failed, unable to determine time deviation");
  auto guard = co_await inner->state_lock.write();
  inner->state.time_deviation.reset();
}

}  // namespace

asio::awaitable<void> AgentInner::housekeeping(std::shared_ptr<AgentInner> inner) {
  std::optional<std::string> ui_version;
  {
    auto guard = co_await inner->state_lock.read();
    ui_version = inner->state.ui_version;
  }
  auto secret = co_await housekeeping::copy_shared_secret(inner);
  auto listed = co_await housekeeping::controller_network_list(inner, secret);
  // An unknown list (a failed fetch) leaves the joined controller networks as they are.
  if (listed) co_await housekeeping::sync_controller_networks(inner, *listed);
  auto cached = std::make_shared<const ControllerNetworks>(listed ? std::move(*listed) : ControllerNetworks{});
  co_await housekeep_networks(inner, cached);
  return_freed_memory();
  co_await notify_on_network_change(inner);
  co_await check_and_update_time_deviation(inner);
  if (secret) co_await housekeeping::send_metrics(inner, std::move(*secret), std::move(ui_version));
}

}  // namespace valdori::agent
