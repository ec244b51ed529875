// Counts the heap allocations of the whole program: every form of the global operator new, and
// the aligned_alloc calls through which Asio's recycling allocator takes its blocks (coroutine
// frames, I/O operations, posted handlers) when its per-thread cache has none to give. A thread
// can exclude itself, so that a test's own work does not count.
#pragma once

#include <cstdint>

namespace valdori::testing::allocations {

struct Counts {
  std::uint64_t operator_new = 0;
  std::uint64_t aligned_alloc = 0;

  std::uint64_t total() const { return operator_new + aligned_alloc; }
  Counts operator-(const Counts& earlier) const {
    return {operator_new - earlier.operator_new, aligned_alloc - earlier.aligned_alloc};
  }
};

Counts counts();

// While one lives, the allocations of the thread that made it are not counted.
class UncountedThread {
 public:
  UncountedThread();
  ~UncountedThread();
  UncountedThread(const UncountedThread&) = delete;
  UncountedThread& operator=(const UncountedThread&) = delete;

 private:
  bool previous_;
};

}  // namespace valdori::testing::allocations
