// Tunables from the process environment: option NAME lives in the variable "VALDORI_" + NAME.
// Every read looks at the environment afresh; an unset, non-UTF-8 or unparsable value gives the
// caller's default, silently.
#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace valdori::util::system {

// The variable's value when it is set and valid UTF-8.
std::optional<std::string> env_text(std::string_view name);

// Logs that option `name` asked for `value`, above the limit `max`, and gets `max`.
void warn_capped(std::string_view name, std::string_view value, std::string_view max);

// The text parser of an option value; nothing is trimmed.
// Integers: decimal digits after one optional "+" (or "-" for signed types), within range.
// Booleans: exactly "true" or "false".
template <class T>
std::optional<T> parse_option(std::string_view text) {
  if constexpr (std::same_as<T, bool>) {
    if (text == "true") return true;
    if (text == "false") return false;
    return std::nullopt;
  } else if constexpr (std::integral<T>) {
    const bool negative = std::is_signed_v<T> && !text.empty() && text.front() == '-';
    std::string_view digits = text;
    if (negative || (!text.empty() && text.front() == '+')) digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    // from_chars knows no "+" but reads the "-" itself.
    const std::string_view number = negative ? text : digits;
    T value{};
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    return value;
  } else {
    static_assert(std::same_as<T, std::string>, "no text parser for this option type");
    return std::string(text);
  }
}

template <class T>
T get_env(std::string_view name, T default_value) {
  std::optional<std::string> text = env_text(name);
  if (!text) return default_value;
  if constexpr (std::same_as<T, std::string>) {
    return std::move(*text);
  } else {
    return parse_option<T>(*text).value_or(default_value);
  }
}

// Bounds on what an option may ask for. Each task costs memory and a share of the runtime; each
// queued item may hold a packet; a longer period would wrap in the timers.
inline constexpr std::int32_t kMaxTaskCount = 64;
inline constexpr std::size_t kMaxQueueCapacity = 65536;
inline constexpr std::uint64_t kMaxDurationMs = 24ull * 60 * 60 * 1000;

// As get_env, but a value above `max` gives `max`, with a WARN naming the variable.
template <class T>
T get_env_at_most(std::string_view name, T default_value, T max) {
  const T value = get_env<T>(name, default_value);
  if (value <= max) return value;
  warn_capped(name, std::to_string(value), std::to_string(max));
  return max;
}

// The number of tasks option `name` asks for, at most kMaxTaskCount. Zero or less is returned as
// it is: the caller knows what that disables.
std::int32_t get_task_count(std::string_view name, std::int32_t default_value);

// The fixed UDP port of the overlay node, from VALDORI_UDP_PORT: the whole text, untrimmed, as a
// port number with one optional "+"; unset, empty, blank or unreadable text gives no fixed port.
std::optional<std::uint16_t> udp_port_option();

}  // namespace valdori::util::system
