// Turns for tasks that share one ordered source, such as a queue or a descriptor several workers
// wait on. A source hands what arrives to every task waiting on it at once, so the tasks would
// split a burst among themselves and, each handing on its share, reorder it. Only the holder of
// the turn waits on the source and hands on what it took; the others wait for the turn, which
// goes to the longest waiting when its holder passes it.
//
//   if (!co_await turns.take()) co_return;  // cancelled
//   ... wait on the source, take a burst and hand it on ...
//   turns.pass();
//
// A holder that ends without passing keeps the turn: the tasks that share a source end together
// (on teardown, handing the turn to a task whose executor is gone would be wrong). Thread-safe;
// a wait honours Asio per-operation cancellation and allocates nothing beyond its coroutine's
// operation.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/error_code.hpp>

namespace valdori::util {

class Turns {
 public:
  explicit Turns(const boost::asio::any_io_executor& executor) : channel_(executor, 1) { pass(); }
  Turns(const Turns&) = delete;
  Turns& operator=(const Turns&) = delete;

  // Waits until the turn is free and takes it; false when the wait was cancelled.
  boost::asio::awaitable<bool> take() {
    const auto [ec] = co_await channel_.async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
    co_return !ec;
  }
  // Hands the turn to the longest waiting task, or leaves it free. Only its holder passes it.
  void pass() { channel_.try_send(boost::system::error_code{}); }

 private:
  boost::asio::experimental::concurrent_channel<void(boost::system::error_code)> channel_;
};

}  // namespace valdori::util
