// Reading a fuzz input as a sequence of small fields, for targets whose inputs are structured
// (a choice of node state, then records). Reads past the end give zeros and empty spans, so
// every input is some valid sequence.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "util/log/log.hpp"

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
  // The next `count` bytes, or as many as are left.
  std::span<const std::uint8_t> bytes(std::size_t count) {
    const auto taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
  }
  // A field of a 2-byte length and that many bytes.
  std::span<const std::uint8_t> record() { return bytes(u16()); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Every log line is formatted, so that the formatting of hostile values runs too, but none is
// written anywhere.
inline void quiet_logging() {
  log::remove_console_sink();
  log::set_level(log::Level::trace);
}

}  // namespace valdori::fuzz
