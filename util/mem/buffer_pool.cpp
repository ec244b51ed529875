#include "util/mem/buffer_pool.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace valdori::util::mem {
namespace {

// About a queue's worth: what one direction holds in flight.
constexpr std::size_t kKeptPerThread = 512;
// Every buffer holds any packet or overlay message, so a recycled one never grows.
constexpr std::size_t kLeastCapacity = 2048;

struct FreeList {
  FreeList() { buffers.reserve(kKeptPerThread); }
  std::vector<std::vector<std::uint8_t>> buffers;
};

thread_local FreeList free_list;

}  // namespace

std::vector<std::uint8_t> take_buffer(std::span<const std::uint8_t> contents) {
  auto& buffers = free_list.buffers;
  std::vector<std::uint8_t> buffer;
  if (buffers.empty()) {
    buffer.reserve(std::max(contents.size(), kLeastCapacity));
  } else {
    buffer = std::move(buffers.back());
    buffers.pop_back();
  }
  buffer.assign(contents.begin(), contents.end());
  return buffer;
}

void recycle_buffer(std::vector<std::uint8_t>&& buffer) {
  auto& buffers = free_list.buffers;
  if (buffers.size() < kKeptPerThread && buffer.capacity() > 0) buffers.push_back(std::move(buffer));
  std::vector<std::uint8_t>().swap(buffer);
}

}  // namespace valdori::util::mem
