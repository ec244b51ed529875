// The waiter queue shared by RwLock and Mutex, and the RAII guard both hand out.
//
// One FIFO queue of waiters, each shared or exclusive. A waiter is granted only when it is at
// the head of the queue and compatible with the current holders; consecutive shared waiters at
// the head are granted together, and a queued exclusive waiter blocks every later arrival. A
// new request takes the lock at once only when nobody is queued. All operations are
// thread-safe; waiters resume on their own executors. A waiter removed by Asio per-operation
// cancellation leaves the queue (and may let the waiters behind it through) and its
// `co_await` throws boost::system::system_error (operation_aborted).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

#include <boost/asio/awaitable.hpp>

namespace valdori::util {

enum class LockMode { shared, exclusive };

namespace detail {
class LockCore;
void release_lock(LockCore& core, LockMode mode) noexcept;
}  // namespace detail

// Ownership of a lock acquired from an RwLock or a Mutex; releases it on destruction or
// `unlock()`. Move-only; a default-constructed or moved-from guard owns nothing. The lock
// object may be destroyed before its guards (they keep its state alive).
template <LockMode Mode>
class LockGuard {
 public:
  LockGuard() = default;
  LockGuard(LockGuard&& other) noexcept : core_(std::move(other.core_)) {}
  LockGuard& operator=(LockGuard&& other) noexcept {
    if (this != &other) {
      unlock();
      core_ = std::move(other.core_);
    }
    return *this;
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard() { unlock(); }

  bool owns_lock() const noexcept { return core_ != nullptr; }
  explicit operator bool() const noexcept { return owns_lock(); }

  // Releases the lock early; a no-op on an empty guard.
  void unlock() noexcept {
    if (auto core = std::move(core_)) detail::release_lock(*core, Mode);
  }

 private:
  friend class detail::LockCore;
  explicit LockGuard(std::shared_ptr<detail::LockCore> core) : core_(std::move(core)) {}
  std::shared_ptr<detail::LockCore> core_;
};

namespace detail {

std::shared_ptr<LockCore> make_lock_core();

// Waits for the lock in `mode`, or takes it at once when nobody holds it incompatibly and
// nobody is queued.
template <LockMode Mode>
boost::asio::awaitable<LockGuard<Mode>> acquire_lock(std::shared_ptr<LockCore> core);

template <LockMode Mode>
std::optional<LockGuard<Mode>> try_acquire_lock(const std::shared_ptr<LockCore>& core);

// Diagnostics: the number of queued waiters.
std::size_t queued_waiters(const LockCore& core);

extern template boost::asio::awaitable<LockGuard<LockMode::shared>> acquire_lock(std::shared_ptr<LockCore>);
extern template boost::asio::awaitable<LockGuard<LockMode::exclusive>> acquire_lock(std::shared_ptr<LockCore>);
extern template std::optional<LockGuard<LockMode::shared>> try_acquire_lock(const std::shared_ptr<LockCore>&);
extern template std::optional<LockGuard<LockMode::exclusive>> try_acquire_lock(const std::shared_ptr<LockCore>&);

}  // namespace detail
}  // namespace valdori::util
