// Unsigned integers in network byte order, read from and written to byte buffers whose length the
// caller has checked.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

namespace valdori::p2p::message {

template <std::unsigned_integral T>
constexpr T load_big_endian(const std::uint8_t* p) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>(value << 8 | p[i]);
  return value;
}

template <std::unsigned_integral T>
constexpr void store_big_endian(std::uint8_t* p, T value) {
  for (std::size_t i = sizeof(T); i-- > 0;) {
    p[i] = static_cast<std::uint8_t>(value);
    value = static_cast<T>(value >> 8);
  }
}

}  // namespace valdori::p2p::message
