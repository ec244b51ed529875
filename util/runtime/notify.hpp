// A notification between tasks: `co_await notify.notified()` waits for `notify_one()` or
// `notify_waiters()`.
//
// `notify_one()` wakes the longest waiting task; with nobody waiting it leaves one permit, which
// the next `notified()` takes without waiting (permits do not add up). `notify_waiters()` wakes
// every task waiting at that moment and leaves no permit. Thread-safe; waiters resume on their
// own executors, and a waiting `notified()` honours Asio per-operation cancellation (it leaves
// the queue and throws boost::system::system_error, operation_aborted).
#pragma once

#include <cstddef>
#include <memory>

#include <boost/asio/awaitable.hpp>

namespace valdori::util {

namespace detail {
class NotifyCore;
}  // namespace detail

class Notify {
 public:
  Notify();
  Notify(const Notify&) = delete;
  Notify& operator=(const Notify&) = delete;

  boost::asio::awaitable<void> notified();
  void notify_one();
  void notify_waiters();

  // Diagnostics: tasks currently waiting.
  std::size_t queued_waiters() const;

 private:
  std::shared_ptr<detail::NotifyCore> core_;
};

}  // namespace valdori::util
