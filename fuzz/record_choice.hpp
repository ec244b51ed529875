// Inputs that read a document as one of several record types: the first byte chooses the type
// (modulo their count), the rest is the document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <utility>

namespace valdori::fuzz {

// Calls `read.template operator()<T>(document)` for the chosen T of `Records` (`read` is a lambda
// `[]<class T>(std::string_view document)`); an empty input chooses nothing.
template <class Records, class Read>
void read_chosen_record(const std::uint8_t* data, std::size_t size, Read&& read) {
  if (size == 0) return;
  constexpr std::size_t kCount = std::tuple_size_v<Records>;
  const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    ((data[0] % kCount == I ? read.template operator()<std::tuple_element_t<I, Records>>(document) : void()), ...);
  }
  (std::make_index_sequence<kCount>{});
}

}  // namespace valdori::fuzz
