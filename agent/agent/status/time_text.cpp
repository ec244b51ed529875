#include "agent/agent/status/time_text.hpp"

#include <ctime>

#include <fmt/format.h>

namespace valdori::agent::status {
namespace {

constexpr std::uint64_t kSecondsPerYear = 31'557'600;  // 365.25 days
constexpr std::uint64_t kSecondsPerMonth = 2'630'016;  // 30.44 days
constexpr std::uint64_t kSecondsPerDay = 86'400;
// The last day a calendar date can name here: 31 December of the year 262143.
constexpr std::int64_t kLastDay = 95'026'601;

void append_unit(std::string& out, std::uint64_t value, std::string_view unit, bool plural) {
  if (value == 0) return;
  if (!out.empty()) out += ' ';
  fmt::format_to(std::back_inserter(out), "{}{}{}", value, unit, plural && value > 1 ? "s" : "");
}

}  // namespace

std::string format_duration(std::uint64_t secs, std::uint64_t nanos) {
  const std::uint64_t day_secs = secs % kSecondsPerYear % kSecondsPerMonth % kSecondsPerDay;
  std::string out;
  append_unit(out, secs / kSecondsPerYear, "year", true);
  append_unit(out, secs % kSecondsPerYear / kSecondsPerMonth, "month", true);
  append_unit(out, secs % kSecondsPerYear % kSecondsPerMonth / kSecondsPerDay, "day", true);
  append_unit(out, day_secs / 3600, "h", false);
  append_unit(out, day_secs % 3600 / 60, "m", false);
  append_unit(out, day_secs % 60, "s", false);
  append_unit(out, nanos / 1'000'000, "ms", false);
  append_unit(out, nanos / 1000 % 1000, "us", false);
  append_unit(out, nanos % 1000, "ns", false);
  return out.empty() ? "0s" : out;
}

std::string format_timestamp(std::uint64_t micros) {
  if (micros == 0) return "Never";
  const std::uint64_t secs = micros / 1'000'000;
  const std::uint64_t sub_micros = micros % 1'000'000;
  const auto invalid = [&] { return fmt::format("Invalid timestamp ({})", micros); };
  if (secs / kSecondsPerDay > static_cast<std::uint64_t>(kLastDay)) return invalid();
  const auto seconds = static_cast<std::time_t>(secs);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return invalid();

  std::string fraction;
  if (sub_micros % 1000 == 0 && sub_micros != 0) {
    fraction = fmt::format(".{:03}", sub_micros / 1000);
  } else if (sub_micros != 0) {
    fraction = fmt::format(".{:06}", sub_micros);
  }
  const long offset = local.tm_gmtoff;
  const long offset_minutes = (offset < 0 ? -offset : offset) / 60;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}{}{:02}:{:02}", local.tm_year + 1900L, local.tm_mon + 1,
                     local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, fraction, offset < 0 ? '-' : '+',
                     offset_minutes / 60, offset_minutes % 60);
}

std::string format_duration(std::chrono::nanoseconds duration) {
  const std::int64_t count = duration.count();
  const std::uint64_t total = count < 0 ? 0 - static_cast<std::uint64_t>(count) : static_cast<std::uint64_t>(count);
  return format_duration(total / 1'000'000'000, total % 1'000'000'000);
}

std::string time_ago_in_words(std::uint64_t micros, std::chrono::system_clock::time_point now) {
  // In microseconds plus now's nanoseconds below them, so that no time a peer may report
  // overflows.
  const auto now_ns = std::chrono::time_point_cast<std::chrono::nanoseconds>(now).time_since_epoch().count();
  const auto now_us = static_cast<std::uint64_t>(now_ns / 1000);
  const auto now_rest = static_cast<std::uint64_t>(now_ns % 1000);
  if (micros <= now_us) {
    const std::uint64_t us = now_us - micros;
    return format_duration(us / 1'000'000, us % 1'000'000 * 1000 + now_rest);
  }
  const std::uint64_t us = micros - now_us;
  std::uint64_t secs = us / 1'000'000;
  std::uint64_t nanos = us % 1'000'000 * 1000;
  if (nanos >= now_rest) {
    nanos -= now_rest;
  } else {
    secs -= 1;
    nanos += 1'000'000'000 - now_rest;
  }
  return format_duration(secs, nanos);
}

}  // namespace valdori::agent::status
