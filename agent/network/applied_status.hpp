// One item of a network's state: a value that is (or is to be) in force on this device, with the
// text of the error that belongs to it.
#pragma once

#include <optional>
#include <string>
#include <type_traits>

#include "util/net/ipv4_net.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::network {

template <class T>
struct AppliedStatus {
  std::optional<T> applied;
  std::optional<std::string> error;

  // The value first, then the error text: an absent value equals only an absent value.
  bool operator==(const AppliedStatus&) const = default;
};

namespace detail {

// Networks print as address/prefix in both forms; the derived lists bring their own
// `display` and `debug`.
template <class T>
std::string display_value(const T& value) {
  if constexpr (std::is_same_v<T, util::net::Ipv4Net>) {
    return value.to_string();
  } else {
    return std::string(display(value));
  }
}

template <class T>
std::string debug_value(const T& value) {
  if constexpr (std::is_same_v<T, util::net::Ipv4Net>) {
    return value.to_string();
  } else {
    return std::string(debug(value));
  }
}

}  // namespace detail

// "None", "None (Error: e)", the value's text, or the value's text then " (Error: e)".
template <class T>
std::string display(const AppliedStatus<T>& status) {
  std::string text = status.applied ? detail::display_value(*status.applied) : "None";
  if (status.error) text += " (Error: " + *status.error + ")";
  return text;
}

// "AppliedStatus { applied: Some(10.0.0.1/24), error: None }"
template <class T>
std::string debug(const AppliedStatus<T>& status) {
  const std::string applied = status.applied ? "Some(" + detail::debug_value(*status.applied) + ")" : "None";
  const std::string error = status.error ? "Some(" + util::text::debug_string(*status.error) + ")" : "None";
  return "AppliedStatus { applied: " + applied + ", error: " + error + " }";
}

}  // namespace valdori::network
