#include "agent/agent/version_check.hpp"

#include <charconv>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/algorithm/string/split.hpp>

namespace valdori::agent::version_check {
namespace {

struct Version {
  std::uint64_t major = 0, minor = 0, patch = 0;
  std::vector<std::string_view> pre;
  std::vector<std::string_view> build;
};

bool all_digits(std::string_view s) {
  return !s.empty() && std::ranges::all_of(s, [](char c) { return c >= '0' && c <= '9'; });
}

bool leading_zero(std::string_view digits) { return digits.size() > 1 && digits[0] == '0'; }

std::optional<std::uint64_t> number(std::string_view s) {
  if (!all_digits(s) || leading_zero(s)) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc{}) return std::nullopt;
  return value;
}

// Dot-separated identifiers of letters, digits and "-", none empty; numeric pre-release
// identifiers without leading zeros, of any length (they compare by length, then digits).
std::optional<std::vector<std::string_view>> identifiers(std::string_view text, bool pre_release) {
  std::vector<std::string_view> parts;
  boost::algorithm::split(parts, text, [](char c) { return c == '.'; });
  for (std::string_view part : parts) {
    const bool valid = !part.empty() && std::ranges::all_of(part, [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    });
    if (!valid || (pre_release && all_digits(part) && leading_zero(part))) return std::nullopt;
  }
  return parts;
}

std::optional<Version> parse(std::string_view text) {
  Version version;
  if (const auto plus = text.find('+'); plus != std::string_view::npos) {
    auto build = identifiers(text.substr(plus + 1), false);
    if (!build) return std::nullopt;
    version.build = std::move(*build);
    text = text.substr(0, plus);
  }
  if (const auto dash = text.find('-'); dash != std::string_view::npos) {
    auto pre = identifiers(text.substr(dash + 1), true);
    if (!pre) return std::nullopt;
    version.pre = std::move(*pre);
    text = text.substr(0, dash);
  }
  std::vector<std::string_view> core;
  boost::algorithm::split(core, text, [](char c) { return c == '.'; });
  if (core.size() != 3) return std::nullopt;
  const auto major = number(core[0]), minor = number(core[1]), patch = number(core[2]);
  if (!major || !minor || !patch) return std::nullopt;
  version.major = *major;
  version.minor = *minor;
  version.patch = *patch;
  return version;
}

// Identifier lists in turn; `numeric` orders two all-digit identifiers, which sort below others.
template <class Numeric>
std::strong_ordering compare_lists(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                                   Numeric numeric) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const bool da = all_digits(a[i]), db = all_digits(b[i]);
    std::strong_ordering order = da && db ? numeric(a[i], b[i]) : (da || db) ? (db <=> da) : (a[i] <=> b[i]);
    if (std::is_neq(order)) return order;
  }
  return a.size() <=> b.size();
}

// Digits compared by value; at equal value the one with fewer leading zeros (the shorter) first.
std::strong_ordering digits_by_value(std::string_view a, std::string_view b) {
  const auto strip = [](std::string_view s) { return s.substr(std::min(s.find_first_not_of('0'), s.size())); };
  const std::string_view va = strip(a), vb = strip(b);
  if (auto order = va.size() <=> vb.size(); std::is_neq(order)) return order;
  if (auto order = va <=> vb; std::is_neq(order)) return order;
  return a.size() <=> b.size();
}

std::strong_ordering compare(const Version& a, const Version& b) {
  if (auto order = std::tie(a.major, a.minor, a.patch) <=> std::tie(b.major, b.minor, b.patch); std::is_neq(order)) {
    return order;
  }
  if (a.pre.empty() != b.pre.empty()) return a.pre.empty() ? std::strong_ordering::greater : std::strong_ordering::less;
  if (auto order = compare_lists(a.pre, b.pre, digits_by_value); std::is_neq(order)) return order;
  if (a.build.empty() != b.build.empty())
    return a.build.empty() ? std::strong_ordering::less : std::strong_ordering::greater;
  return compare_lists(a.build, b.build, digits_by_value);
}

}  // namespace

bool is_newer_version(std::string_view first, std::string_view second) {
  const auto a = parse(first), b = parse(second);
  if (a && b) return compare(*a, *b) == std::strong_ordering::greater;
  return first > second;
}

}  // namespace valdori::agent::version_check
