// Races of an operation against a deadline or a cancellation token.
//
//   std::optional<Reply> r = co_await with_timeout(fetch(), 5s);        // nullopt on timeout
//   std::optional<Packet> p = co_await until_cancelled(token, read());  // nullopt once cancelled
//   bool done = co_await with_timeout(void_op(), 1s);                   // void: true if it ran out
//
// The first side to finish decides: the operation's result (or exception, rethrown), or the
// empty result when the deadline passes / the token is cancelled first, in which case the
// operation is cancelled (Asio terminal cancellation). Both return only once the losing side
// has wound down, so nothing outlives the call. When the token is already cancelled,
// until_cancelled does not start the operation.
//
// The two sides run as coroutines on the caller's executor, and the cancellation of the losing
// side is delivered through that executor: call these from a coroutine running on a strand (as
// block_on and TaskSet members do) so that it is serialised with the coroutine.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/detail/boxed.hpp"

namespace valdori::util {

// std::optional<T>, or bool for void (true when the operation finished).
template <typename T>
using RaceResult = std::conditional_t<std::is_void_v<T>, bool, std::optional<T>>;

namespace detail {

template <typename T>
RaceResult<T> race_value(boxed_t<T>&& boxed) {
  if constexpr (std::is_void_v<T>) {
    return true;
  } else {
    return std::move(boxed);
  }
}

// A deferred operation with an associated executor, so that parallel_group completes it and
// delivers its cancellation on that executor. (asio::bind_executor would invoke the deferred
// co_spawn as an lvalue, which needs a copyable awaitable.)
template <typename Executor, typename Op>
class OnExecutor {
 public:
  using executor_type = Executor;
  OnExecutor(Executor ex, Op op) : ex_(std::move(ex)), op_(std::move(op)) {}
  executor_type get_executor() const noexcept { return ex_; }
  template <typename Token>
  auto operator()(Token&& token) && {
    return std::move(op_)(std::forward<Token>(token));
  }

 private:
  Executor ex_;
  Op op_;
};

template <typename Executor, typename Op>
OnExecutor<Executor, Op> on_executor(Executor ex, Op op) {
  return OnExecutor<Executor, Op>(std::move(ex), std::move(op));
}

// Runs `task` and `stopper` side by side; the first to finish wins and the other is cancelled.
template <typename T>
boost::asio::awaitable<RaceResult<T>> race(boost::asio::awaitable<T> task, boost::asio::awaitable<void> stopper) {
  namespace asio = boost::asio;
  auto ex = co_await asio::this_coro::executor;
  // Built outside the co_await expression, which then holds no temporaries of note.
  auto group = asio::experimental::make_parallel_group(
      on_executor(ex, asio::co_spawn(ex, boxed(std::move(task)), asio::deferred)),
      on_executor(ex, asio::co_spawn(ex, std::move(stopper), asio::deferred)));
  auto wait = std::move(group).async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  auto [order, task_error, task_result, stopper_error] = co_await std::move(wait);
  // The stopper fired only if it finished first without an exception; an exception means it
  // was cancelled (the task won, or the whole race was cancelled from outside), and then the
  // task's own ending is the answer.
  if (order[0] == 0 || stopper_error) {
    if (task_error) std::rethrow_exception(task_error);
    co_return race_value<T>(std::move(task_result));
  }
  co_return RaceResult<T>{};
}

inline boost::asio::awaitable<void> sleep_for(std::chrono::steady_clock::duration d) {
  boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor, d);
  co_await timer.async_wait(boost::asio::use_awaitable);
}

}  // namespace detail

template <typename T, typename Rep, typename Period>
boost::asio::awaitable<RaceResult<T>> with_timeout(boost::asio::awaitable<T> task,
                                                   std::chrono::duration<Rep, Period> timeout) {
  return detail::race<T>(std::move(task),
                         detail::sleep_for(std::chrono::ceil<std::chrono::steady_clock::duration>(timeout)));
}

template <typename T>
boost::asio::awaitable<RaceResult<T>> until_cancelled(CancellationToken token, boost::asio::awaitable<T> task) {
  if (token.is_cancelled()) co_return RaceResult<T>{};
  auto race = detail::race<T>(std::move(task), token.cancelled());
  co_return co_await std::move(race);
}

}  // namespace valdori::util
