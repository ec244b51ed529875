// The replacements forward to malloc and free, so AddressSanitizer still sees every block (its
// leak, overflow and use-after-free checks stay on; only its new/delete pairing check goes).
#include "tests/agent/agent/overlay_side/allocation_counter.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace valdori::testing::allocations {
namespace {

std::atomic<std::uint64_t> operator_new_count{0};
std::atomic<std::uint64_t> aligned_alloc_count{0};
thread_local bool uncounted = false;

void count(std::atomic<std::uint64_t>& counter) {
  if (!uncounted) counter.fetch_add(1, std::memory_order_relaxed);
}

void* allocate(std::size_t size) noexcept {
  count(operator_new_count);
  return std::malloc(size == 0 ? 1 : size);
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
  count(operator_new_count);
  void* block = nullptr;
  const std::size_t align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
  return ::posix_memalign(&block, align, size == 0 ? 1 : size) == 0 ? block : nullptr;
}

void* allocate_or_throw(void* block) {
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

Counts counts() {
  return {operator_new_count.load(std::memory_order_relaxed), aligned_alloc_count.load(std::memory_order_relaxed)};
}

UncountedThread::UncountedThread() : previous_(uncounted) { uncounted = true; }
UncountedThread::~UncountedThread() { uncounted = previous_; }

}  // namespace valdori::testing::allocations

namespace counter = valdori::testing::allocations;

// Asio's recycling allocator calls aligned_alloc directly; the link redirects those calls here
// (--wrap=aligned_alloc).
extern "C" void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
extern "C" void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  counter::count(counter::aligned_alloc_count);
  return __real_aligned_alloc(alignment, size);
}

void* operator new(std::size_t size) { return counter::allocate_or_throw(counter::allocate(size)); }
void* operator new[](std::size_t size) { return counter::allocate_or_throw(counter::allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counter::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counter::allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return counter::allocate_or_throw(counter::allocate_aligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return counter::allocate_or_throw(counter::allocate_aligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return counter::allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return counter::allocate_aligned(size, alignment);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
