#include "util/url/ip_address.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "util/url/code_points.hpp"

namespace valdori::util::url {
namespace {

struct Ipv4Number {
  std::uint64_t value;  // saturated just past 2^32: larger values fail the parser's range checks alike
};

// The IPv4 number parser: decimal, "0x"/"0X" hex or "0" octal; "0x" alone is 0.
std::optional<Ipv4Number> parse_ipv4_number(std::string_view input) {
  if (input.empty()) return std::nullopt;
  unsigned radix = 10;
  if (input.size() >= 2 && input[0] == '0' && (input[1] == 'x' || input[1] == 'X')) {
    input.remove_prefix(2);
    radix = 16;
  } else if (input.size() >= 2 && input[0] == '0') {
    input.remove_prefix(1);
    radix = 8;
  }
  constexpr std::uint64_t kSaturated = (std::uint64_t{1} << 32) + 1;
  std::uint64_t value = 0;
  for (const char c : input) {
    const bool digit = radix == 16 ? is_ascii_hex_digit(c) : is_ascii_digit(c) && hex_value(c) < radix;
    if (!digit) return std::nullopt;
    value = std::min(value * radix + hex_value(c), kSaturated);
  }
  return Ipv4Number{value};
}

// `input` strictly split on ".".
std::vector<std::string_view> split_on_dots(std::string_view input) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t dot = input.find('.');
    parts.push_back(input.substr(0, dot));
    if (dot == std::string_view::npos) return parts;
    input.remove_prefix(dot + 1);
  }
}

}  // namespace

bool ends_in_a_number(std::string_view input) {
  auto parts = split_on_dots(input);
  if (parts.back().empty() && parts.size() > 1) parts.pop_back();
  const std::string_view last = parts.back();
  if (!last.empty() && std::ranges::all_of(last, [](char c) { return is_ascii_digit(c); })) return true;
  return parse_ipv4_number(last).has_value();
}

std::optional<Ipv4Address> parse_ipv4(std::string_view input) {
  auto parts = split_on_dots(input);
  if (parts.back().empty() && parts.size() > 1) parts.pop_back();
  if (parts.size() > 4) return std::nullopt;
  std::vector<std::uint64_t> numbers;
  for (const std::string_view part : parts) {
    const auto number = parse_ipv4_number(part);
    if (!number) return std::nullopt;
    numbers.push_back(number->value);
  }
  const std::uint64_t last = numbers.back();
  numbers.pop_back();
  if (std::ranges::any_of(numbers, [](std::uint64_t n) { return n > 255; })) return std::nullopt;
  if (last >= std::uint64_t{1} << (8 * (5 - (numbers.size() + 1)))) return std::nullopt;
  std::uint64_t ipv4 = last;
  for (std::size_t counter = 0; counter < numbers.size(); ++counter) ipv4 += numbers[counter] << (8 * (3 - counter));
  return static_cast<Ipv4Address>(ipv4);
}

std::optional<Ipv6Address> parse_ipv6(std::u32string_view input) {
  Ipv6Address address{};
  std::size_t piece_index = 0;
  std::optional<std::size_t> compress;
  std::size_t pointer = 0;
  const auto c = [&]() -> char32_t { return pointer < input.size() ? input[pointer] : char32_t{0xffffffff}; };
  const auto at_eof = [&] { return pointer >= input.size(); };

  if (c() == ':') {
    if (pointer + 1 >= input.size() || input[pointer + 1] != ':') return std::nullopt;
    pointer += 2;
    compress = ++piece_index;
  }
  while (!at_eof()) {
    if (piece_index == 8) return std::nullopt;
    if (c() == ':') {
      if (compress) return std::nullopt;
      ++pointer;
      compress = ++piece_index;
      continue;
    }
    unsigned value = 0;
    std::size_t length = 0;
    while (length < 4 && is_ascii_hex_digit(c())) {
      value = value * 0x10 + hex_value(c());
      ++pointer;
      ++length;
    }
    if (c() == '.') {
      if (length == 0) return std::nullopt;
      pointer -= length;
      if (piece_index > 6) return std::nullopt;
      unsigned numbers_seen = 0;
      while (!at_eof()) {
        std::optional<unsigned> ipv4_piece;
        if (numbers_seen > 0) {
          if (c() != '.' || numbers_seen >= 4) return std::nullopt;
          ++pointer;
        }
        if (!is_ascii_digit(c())) return std::nullopt;
        while (is_ascii_digit(c())) {
          const unsigned number = c() - '0';
          if (!ipv4_piece) {
            ipv4_piece = number;
          } else if (*ipv4_piece == 0) {
            return std::nullopt;  // no leading zeros
          } else {
            ipv4_piece = *ipv4_piece * 10 + number;
          }
          if (*ipv4_piece > 255) return std::nullopt;
          ++pointer;
        }
        address[piece_index] = static_cast<std::uint16_t>(address[piece_index] * 0x100 + *ipv4_piece);
        ++numbers_seen;
        if (numbers_seen == 2 || numbers_seen == 4) ++piece_index;
      }
      if (numbers_seen != 4) return std::nullopt;
      break;
    }
    if (c() == ':') {
      ++pointer;
      if (at_eof()) return std::nullopt;
    } else if (!at_eof()) {
      return std::nullopt;
    }
    address[piece_index] = static_cast<std::uint16_t>(value);
    ++piece_index;
  }
  if (compress) {
    std::size_t swaps = piece_index - *compress;
    piece_index = 7;
    while (piece_index != 0 && swaps > 0) {
      std::swap(address[piece_index], address[*compress + swaps - 1]);
      --piece_index;
      --swaps;
    }
  } else if (piece_index != 8) {
    return std::nullopt;
  }
  return address;
}

std::string serialize_ipv4(Ipv4Address address) {
  return fmt::format("{}.{}.{}.{}", address >> 24, (address >> 16) & 0xff, (address >> 8) & 0xff, address & 0xff);
}

namespace {

// Finds the IPv6 address compressed piece index: the first longest run of at least two zeros.
std::optional<std::size_t> compressed_piece_index(const Ipv6Address& address) {
  std::optional<std::size_t> longest_index;
  std::size_t longest_size = 1;
  std::optional<std::size_t> found_index;
  std::size_t found_size = 0;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (address[i] != 0) {
      if (found_size > longest_size) longest_index = found_index, longest_size = found_size;
      found_index.reset();
      found_size = 0;
    } else {
      if (!found_index) found_index = i;
      ++found_size;
    }
  }
  if (found_size > longest_size) return found_index;
  return longest_index;
}

}  // namespace

std::string serialize_ipv6(const Ipv6Address& address) {
  std::string output;
  const auto compress = compressed_piece_index(address);
  bool ignore0 = false;
  for (std::size_t piece_index = 0; piece_index < address.size(); ++piece_index) {
    if (ignore0 && address[piece_index] == 0) continue;
    ignore0 = false;
    if (compress == piece_index) {
      output += piece_index == 0 ? "::" : ":";
      ignore0 = true;
      continue;
    }
    output += fmt::format("{:x}", address[piece_index]);
    if (piece_index != 7) output += ':';
  }
  return output;
}

}  // namespace valdori::util::url
