// A value that readers take as an immutable snapshot without a lock, and writers replace whole.
// A writer that changes part of the value copies it and publishes the copy by compare-and-swap,
// retrying when another writer came first, so no operation ever waits on a lock. Fit for small
// values that are read far more often than written.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace valdori::p2p::concurrent {

template <class T>
class AtomicSnapshot {
 public:
  explicit AtomicSnapshot(T initial = T{}) : value_(std::make_shared<const T>(std::move(initial))) {}
  AtomicSnapshot(const AtomicSnapshot&) = delete;
  AtomicSnapshot& operator=(const AtomicSnapshot&) = delete;

  std::shared_ptr<const T> load() const { return value_.load(std::memory_order_acquire); }

  void store(T value) { value_.store(std::make_shared<const T>(std::move(value)), std::memory_order_release); }

  // Runs `change` on a copy of the current value; when it returns true the copy is published.
  // `change` may run more than once (once per lost race) and must only depend on its argument.
  // Returns whether a copy was published.
  template <class Change>
  bool update(Change&& change) {
    std::shared_ptr<const T> current = load();
    for (;;) {
      auto next = std::make_shared<T>(*current);
      if (!change(*next)) return false;
      if (value_.compare_exchange_weak(current, std::shared_ptr<const T>(std::move(next)), std::memory_order_acq_rel,
                                       std::memory_order_acquire))
        return true;
    }
  }

 private:
  std::atomic<std::shared_ptr<const T>> value_;
};

}  // namespace valdori::p2p::concurrent
