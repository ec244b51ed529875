// Times and durations as the status report writes them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace valdori::agent::status {

// "1year 2months 3days 4h 5m 6s 7ms 8us 9ns" with the zero units left out; "0s" for nothing.
std::string format_duration(std::uint64_t secs, std::uint64_t nanos);
std::string format_duration(std::chrono::nanoseconds duration);

// RFC 3339 in the local time zone with a numeric offset ("2026-12-07T01:02:03.250+00:00"): a
// fraction only when there is one, three digits for whole milliseconds, else six. 0 gives
// "Never"; a time beyond the calendar gives "Invalid timestamp (MICROS)".
std::string format_timestamp(std::uint64_t micros);

// The distance between `micros` and `now`, either way round, as format_duration writes it.
std::string time_ago_in_words(std::uint64_t micros, std::chrono::system_clock::time_point now);

}  // namespace valdori::agent::status
