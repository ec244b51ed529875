// Helpers of the runtime primitive tests: polling with a generous safety-net timeout, spawning
// on a strand, and yielding inside a coroutine.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace valdori::util::testing {

// Safety net only: conditions are expected to hold long before.
inline constexpr std::chrono::seconds kSafetyNet{20};

// Polls `condition` from a non-runtime thread until it holds or the safety net runs out.
inline bool wait_until(const std::function<bool()>& condition, std::chrono::steady_clock::duration limit = kSafetyNet) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

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
