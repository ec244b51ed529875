// An asynchronous, FIFO-fair reader-writer lock.
//
//   auto read = co_await lock.read();    // RwLock::ReadGuard: shared until destroyed
//   auto write = co_await lock.write();  // RwLock::WriteGuard: exclusive until destroyed
//
// Waiters are served in arrival order: consecutive readers at the head of the queue are let in
// together, and a waiting writer blocks every reader that arrives after it (no writer
// starvation). Thread-safe across the threads of an io_context; waiters resume on their own
// executors. A waiting `read()`/`write()` honours Asio per-operation cancellation: it leaves the
// queue and throws boost::system::system_error (operation_aborted). The queue logic is shared
// with Mutex (lock_core.hpp).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include <boost/asio/awaitable.hpp>

#include "util/runtime/lock_core.hpp"

namespace valdori::util {

class RwLock {
 public:
  using ReadGuard = LockGuard<LockMode::shared>;
  using WriteGuard = LockGuard<LockMode::exclusive>;

  RwLock() : core_(detail::make_lock_core()) {}
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  boost::asio::awaitable<ReadGuard> read() { return detail::acquire_lock<LockMode::shared>(core_); }
  boost::asio::awaitable<WriteGuard> write() { return detail::acquire_lock<LockMode::exclusive>(core_); }

  // Succeed only when the lock could be taken at once without jumping the queue.
  std::optional<ReadGuard> try_read() { return detail::try_acquire_lock<LockMode::shared>(core_); }
  std::optional<WriteGuard> try_write() { return detail::try_acquire_lock<LockMode::exclusive>(core_); }

  // Diagnostics: waiters currently queued.
  std::size_t queued_waiters() const { return detail::queued_waiters(*core_); }

 private:
  std::shared_ptr<detail::LockCore> core_;
};

}  // namespace valdori::util
