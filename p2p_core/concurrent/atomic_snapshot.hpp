// A value that readers take as an immutable snapshot, and writers replace whole. A writer that
// changes part of the value copies it and publishes the copy by compare-and-swap, retrying when
// another writer came first, so nobody waits for another's change. Fit for small
// values that are read far more often than written.
#pragma once

#include <memory>
#include <utility>

#include "p2p_core/concurrent/atomic_shared_ptr.hpp"

namespace valdori::p2p::concurrent {

template <class T>
class AtomicSnapshot {
 public:
  explicit AtomicSnapshot(T initial = T{}) : value_(std::make_shared<const T>(std::move(initial))) {}
  AtomicSnapshot(const AtomicSnapshot&) = delete;
  AtomicSnapshot& operator=(const AtomicSnapshot&) = delete;

  std::shared_ptr<const T> load() const { return value_.load(); }

  void store(T value) { value_.store(std::make_shared<const T>(std::move(value))); }

  // Runs `change` on a copy of the current value; when it returns true the copy is published.
  // `change` may run more than once (once per lost race) and must only depend on its argument.
  // Returns whether a copy was published.
  template <class Change>
  bool update(Change&& change) {
    std::shared_ptr<const T> current = load();
    for (;;) {
      auto next = std::make_shared<T>(*current);
      if (!change(*next)) return false;
      if (value_.compare_exchange(current, std::move(next))) return true;
    }
  }

 private:
  AtomicSharedPtr<const T> value_;
};

}  // namespace valdori::p2p::concurrent
