// The overlay side of the packet path under supervision: the node watcher, the overlay-to-tunnel
// workers and the queue-to-overlay workers in one task set.
#include <cstdint>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/netif/tun_to_overlay.hpp"
#include "agent/agent/overlay_side/node_logger.hpp"
#include "agent/agent/overlay_side/overlay_to_tun.hpp"
#include "agent/agent/overlay_side/queue_to_overlay.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/task_set.hpp"
#include "util/system/env.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;

constexpr std::int32_t kDefaultSenders = 3;

// Ends with the agent token or, earlier, when the overlay node stops on its own; the supervision
// then takes the early end for a reason to stop the agent.
asio::awaitable<void> watch_node(util::CancellationToken token, std::shared_ptr<valdori::node::Node> node) {
  co_await util::until_cancelled(token, node->cancelled());
  if (token.is_cancelled()) {
    VLOG_TRACE(node_logger(), "Node token cancelled.");
  } else {
    VLOG_TRACE(node_logger(), "Node has cancelled prematurely.");
  }
}

// Every member ends only through the token, so one that returns while it is live, or fails,
// stops the agent. The set is drained to the end either way, so that no worker outlives it
// unnoticed.
asio::awaitable<void> supervise(util::TaskSet<void>& tasks, const util::CancellationToken& token) {
  while (const auto outcome = co_await tasks.join_next()) {
    if (!outcome->returned()) {
      VLOG_ERROR(node_logger(), "Task failed. Cancel token: {}", util::text::escape_controls(outcome->message));
      token.cancel();
    } else if (!token.is_cancelled()) {
      VLOG_TRACE(node_logger(), "Task prematurely finished. Cancel token.");
      token.cancel();
    }
  }
  VLOG_TRACE(node_logger(), "Node runner done.");
}

}  // namespace

asio::awaitable<void> AgentInner::node_runner(std::shared_ptr<AgentInner> inner, util::CancellationToken token) {
  const std::shared_ptr<InboundQueue> inbound = inner->inbound;
  const std::shared_ptr<OutboundQueue> outbound = inner->outbound;
  const auto senders = util::system::get_task_count("C2D_THREADS", kDefaultSenders);
  const auto writers = netif::tun_threads();

  util::TaskSet<void> tasks(inner->executor);
  tasks.spawn(watch_node(token, inner->node));
  for (std::int32_t i = 0; i < writers; ++i)
    tasks.spawn(inner->lanes.inbound, overlay_to_tun(inbound, inner, token, i, writers));
  for (std::int32_t i = 0; i < senders; ++i)
    tasks.spawn(inner->lanes.outbound, queue_to_overlay(outbound, token, i, senders));
  co_await supervise(tasks, token);
}

}  // namespace valdori::agent
