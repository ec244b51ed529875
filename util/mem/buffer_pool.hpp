// Byte buffers recycled per thread, for the packet path: a packet copied into a taken buffer and
// the buffer recycled once the packet is written costs no heap allocation in steady state, as
// long as both happen on one thread (each direction of the packet path runs on one).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace valdori::util::mem {

// A buffer holding a copy of `contents`, recycled if this thread has one.
std::vector<std::uint8_t> take_buffer(std::span<const std::uint8_t> contents);

// Keeps `buffer` (its capacity) for a later take on this thread; a thread keeps at most a few
// hundred, and frees the rest.
void recycle_buffer(std::vector<std::uint8_t>&& buffer);

}  // namespace valdori::util::mem
