#include "overlay_node/node/housekeeping.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

#include <boost/asio/this_coro.hpp>

#include "overlay_node/node/node.hpp"
#include "overlay_node/node/span_log.hpp"
#include "overlay_node/node/udp.hpp"
#include "overlay_node/peer/node_peer_housekeeping.hpp"
#include "overlay_node/peer/super_peer_housekeeping.hpp"
#include "util/log/log.hpp"
#include "util/runtime/interval.hpp"
#include "util/runtime/race.hpp"
#include "util/system/env.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using p2p::node::NodeInner;
using Result = boost::system::result<void, p2p::node::error::Error>;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::housekeeping">(); }

std::chrono::milliseconds period_of(const NodeInner& node) {
  const std::uint64_t interval = node.opts().housekeeping_interval;
  // A longer period would wrap in the timer's signed count.
  if (interval != 0) return std::chrono::milliseconds(std::min(interval, util::system::kMaxDurationMs));
  VLOG_WARN(lg(), "Housekeeping interval of 0 ms cannot drive a timer, using {} ms",
            p2p::node::kDefaultHousekeepingInterval);
  return std::chrono::milliseconds(p2p::node::kDefaultHousekeepingInterval);
}

// Each peer's step in turn; the first failure ends the walk.
asio::awaitable<Result> peers_housekeeping(const std::shared_ptr<NodeInner>& node,
                                           const std::vector<std::uint8_t>& endpoint_candidates, const SpanLog& pass) {
  for (const auto& [key, entry] : node->peers().snapshot()) {
    const std::uint64_t now = node->current_time();
    const auto super_peer = p2p::peer::as_super_peer(entry);
    auto step = super_peer ? co_await peer::super_peer_housekeeping(node, super_peer, now, endpoint_candidates, &pass)
                           : co_await peer::node_peer_housekeeping(node, p2p::peer::as_node_peer(entry), now, &pass);
    if (!step) co_return std::move(step).error();
  }
  co_return boost::system::in_place_value;
}

}  // namespace

asio::awaitable<void> housekeeping_runner(std::shared_ptr<NodeInner> node, util::CancellationToken token) {
  util::Interval interval(co_await asio::this_coro::executor, period_of(*node));
  while (true) {
    // Awaited into a variable first: GCC 12 miscompiles a negated co_await in a condition.
    const auto ticked = co_await util::until_cancelled(token, interval.tick());
    if (!ticked) {
      VLOG_TRACE(lg(), "Housekeeping cancelled");
      break;
    }
    // A failed pass (the interfaces could not be listed, say) is retried at the next tick: the
    // node lives on with what the last good pass left.
    if (const auto pass = co_await housekeeping(node); !pass)
      VLOG_ERROR(lg(), "Error in housekeeping: {}", p2p::node::error::display(pass.error()));
  }
  VLOG_TRACE(lg(), "Housekeeping runner stopped");
}

asio::awaitable<Result> housekeeping(std::shared_ptr<NodeInner> node) {
  const SpanLog span(lg(), "housekeeping");
  span.log(log::Level::trace, "Start housekeeping");
  node->remove_stale_peers_housekeeping();
  const auto interfaces = Node::my_addrs(node->opts());
  if (!interfaces) co_return interfaces.error();
  for (auto& binding : node->udp_bindings_housekeeping(*interfaces)) spawn_udp_reader(node, std::move(binding));

  std::vector<asio::ip::address> addrs;
  for (const auto& entry : *interfaces) addrs.push_back(entry.addr);
  const auto endpoint_candidates = node->my_endpoint_candidates(addrs);
  if (auto walked = co_await peers_housekeeping(node, endpoint_candidates, span); !walked)
    co_return std::move(walked).error();

  node->default_route_housekeeping();
  node->send_handles_housekeeping();
  span.log(log::Level::trace, "Finished housekeeping");
  co_return boost::system::in_place_value;
}

}  // namespace valdori::node
