// An asynchronous FIFO mutex: `auto guard = co_await mutex.lock();` holds it until the guard
// is destroyed. The exclusive-only face of the RwLock queue (lock_core.hpp): waiters are served
// in arrival order, thread-safe, and a waiting `lock()` honours Asio per-operation cancellation
// (it leaves the queue and throws boost::system::system_error, operation_aborted).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include <boost/asio/awaitable.hpp>

#include "util/runtime/lock_core.hpp"

namespace valdori::util {

class Mutex {
 public:
  using Guard = LockGuard<LockMode::exclusive>;

  Mutex() : core_(detail::make_lock_core()) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  boost::asio::awaitable<Guard> lock() { return detail::acquire_lock<LockMode::exclusive>(core_); }
  // Succeeds only when the mutex is free and nobody is queued.
  std::optional<Guard> try_lock() { return detail::try_acquire_lock<LockMode::exclusive>(core_); }

  // Diagnostics: waiters currently queued.
  std::size_t queued_waiters() const { return detail::queued_waiters(*core_); }

 private:
  std::shared_ptr<detail::LockCore> core_;
};

}  // namespace valdori::util
