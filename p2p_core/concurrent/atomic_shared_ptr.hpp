// A shared_ptr that threads load and replace concurrently.
//
// It works as the standard library's atomic<shared_ptr> does: a lock bit held only while the
// pointer is copied (one reference-count increment) or swapped; nobody waits on it for longer.
// Unlike GCC 12's, every unlock is a release: GCC 12 unlocks relaxed after a load, so a reader's
// copy of the pointer is not ordered before the next replacement. That is a race on weakly
// ordered processors, and ThreadSanitizer reports it. Replaced values are released after the
// lock, so a destructor never runs under it.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

namespace valdori::p2p::concurrent {

template <class T>
class AtomicSharedPtr {
 public:
  AtomicSharedPtr() = default;
  explicit AtomicSharedPtr(std::shared_ptr<T> value) : value_(std::move(value)) {}
  AtomicSharedPtr(const AtomicSharedPtr&) = delete;
  AtomicSharedPtr& operator=(const AtomicSharedPtr&) = delete;

  std::shared_ptr<T> load() const {
    const Hold hold(locked_);
    return value_;
  }

  void store(std::shared_ptr<T> value) {
    const Hold hold(locked_);
    value_.swap(value);
  }

  // Replaces the value with `desired` when it still is `expected` (the same object); otherwise
  // puts the current value into `expected`.
  bool compare_exchange(std::shared_ptr<T>& expected, std::shared_ptr<T> desired) {
    std::shared_ptr<T> released;
    const Hold hold(locked_);
    if (value_ == expected) {
      released = std::exchange(value_, std::move(desired));
      return true;
    }
    released = std::exchange(expected, value_);
    return false;
  }

 private:
  class Hold {
   public:
    explicit Hold(std::atomic<bool>& locked) : locked_(locked) {
      while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) std::this_thread::yield();
      }
    }
    ~Hold() { locked_.store(false, std::memory_order_release); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    std::atomic<bool>& locked_;
  };

  mutable std::atomic<bool> locked_{false};
  std::shared_ptr<T> value_;
};

}  // namespace valdori::p2p::concurrent
