// The watch over a node's supervised tasks.
#pragma once

#include <memory>

#include <spdlog/logger.h>
#include <boost/asio/awaitable.hpp>

#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/task_set.hpp"

namespace valdori::node {

// Waits for the members of `tasks` one after the other. One that returns while `token` is live
// has ended too early and one that fails has broken down: either cancels the token, which stops
// what the token stands for. Ends once the set is empty or after a failure (aborting the members
// left). Logs to `logger`.
boost::asio::awaitable<void> monitor(std::shared_ptr<util::TaskSet<void>> tasks, util::CancellationToken token,
                                     spdlog::logger& logger);

}  // namespace valdori::node
