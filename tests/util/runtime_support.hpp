// Helpers of the runtime primitive tests: spawning on a strand, and yielding inside a coroutine.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "tests/support/wait_until.hpp"

namespace valdori::util::testing {

using valdori::testing::kWaitLimit;
using valdori::testing::wait_until;

// Lets other handlers run before the coroutine continues.
inline boost::asio::awaitable<void> yield_now() {
  co_await boost::asio::post(co_await boost::asio::this_coro::executor, boost::asio::use_awaitable);
}

// Starts `task` on a new strand of `ex`, detached.
template <typename Executor>
void spawn_on_strand(const Executor& ex, boost::asio::awaitable<void> task) {
  boost::asio::co_spawn(boost::asio::make_strand(ex), std::move(task), boost::asio::detached);
}

}  // namespace valdori::util::testing
