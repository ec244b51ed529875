// Reading a fuzz input as a sequence of small fields, for targets whose inputs are structured
// (a choice of node state, then records). Reads past the end give zeros and empty spans, so
// every input is some valid sequence.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace valdori::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  bool empty() const { return bytes_.empty(); }
  std::uint8_t byte() {
    if (bytes_.empty()) return 0;
    const std::uint8_t value = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return value;
  }
  std::uint16_t u16() {
    const std::uint8_t high = byte();  // in two statements: the order of the reads is fixed
    return static_cast<std::uint16_t>(high << 8 | byte());
  }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 16 | u16();
    return value;
  }
  // The next `count` bytes, or as many as are left.
  std::span<const std::uint8_t> bytes(std::size_t count) {
    const auto taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
  }
  // A field of a 2-byte length and that many bytes.
  std::span<const std::uint8_t> record() { return bytes(u16()); }
  std::string text() {
    const auto field = record();
    return {field.begin(), field.end()};
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Stops the run where an invariant does not hold: a finding, or a broken harness.
inline void check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace valdori::fuzz
