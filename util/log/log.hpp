// Logging: one spdlog logger per module target (a module path such as
// "valdori_agent::agent::netif"), all writing into one shared fan-out sink so that sinks added
// later (the platform log, a test capture) reach every logger.
//
// Events are written through the VLOG_* macros, which check the logger's level before any
// argument is evaluated or formatted; per-packet lines cost one relaxed load when disabled.
// Structured fields travel with an event as a `Fields` list and are rendered after the message
// as " key=value" pairs, followed by those of the spans it is written in (scoped_fields.hpp).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/sink.h>

namespace valdori::log {

using Level = spdlog::level::level_enum;

// The logger of one module target; created on first use and kept for the process lifetime.
spdlog::logger& logger(std::string_view target);

// A module target as a template argument: `module_logger<"valdori_agent::agent">()`.
template <std::size_t N>
struct Target {
  constexpr Target(const char (&name)[N]) { std::copy_n(name, N, text.begin()); }  // NOLINT: from the literal
  std::array<char, N> text{};
};

// The logger of one module target, looked up once per target rather than on every event.
template <Target T>
spdlog::logger& module_logger() {
  static spdlog::logger& cached = logger(std::string_view(T.text.data(), T.text.size() - 1));
  return cached;
}

// Sets the level of every logger, present and future. The default is INFO.
void set_level(Level level);
Level level();

// Adds or removes a sink that receives the events of every logger.
void add_sink(std::shared_ptr<spdlog::sinks::sink> sink);
void remove_sink(const std::shared_ptr<spdlog::sinks::sink>& sink);

// Removes the console sink that is installed until the host sets up logging.
void remove_console_sink();

struct Field {
  std::string_view key;
  std::string value;
};
using Fields = std::initializer_list<Field>;

// Renders " key=value key=value" for appending to an event's message.
std::string render_fields(Fields fields);

// The limit of one call site whose line hostile or broken input can repeat at will (a line per
// bad packet): a burst of kBurst lines passes, then one line per kIntervalMs, which tells how
// many were left out before it. No lock; a line left out costs two atomic operations.
class RateLimit {
 public:
  static constexpr std::uint64_t kBurst = 10;
  static constexpr std::uint64_t kIntervalMs = 1000;

  struct Pass {
    bool log;
    std::uint64_t suppressed;  // lines left out since the last one logged
  };
  // Whether a line at `now_ms` (steady milliseconds) is logged.
  Pass pass(std::uint64_t now_ms) noexcept;

 private:
  // When the next line would be due if lines came at the steady rate (the cell-rate algorithm):
  // lines pass while it is at most kBurst - 1 intervals ahead of now.
  std::atomic<std::uint64_t> due_ms_{0};
  std::atomic<std::uint64_t> suppressed_{0};
};

std::uint64_t steady_ms() noexcept;

// Appended to a rate-limited line after lines were left out; the first line of a burst keeps its
// own text.
inline constexpr std::string_view kSuppressedFormat = " ({} similar lines suppressed)";

}  // namespace valdori::log

#define VLOG_AT(lg, lvl, ...)          \
  do {                                 \
    ::spdlog::logger& vlog_lg_ = (lg); \
    if (vlog_lg_.should_log(lvl)) {    \
      vlog_lg_.log(lvl, __VA_ARGS__);  \
    }                                  \
  } while (false)

// As VLOG_AT, with structured fields appended to the formatted message.
#define VLOG_AT_FIELDS(lg, lvl, fields, ...)                                                        \
  do {                                                                                              \
    ::spdlog::logger& vlog_lg_ = (lg);                                                              \
    if (vlog_lg_.should_log(lvl)) {                                                                 \
      vlog_lg_.log(lvl, "{}{}", ::fmt::format(__VA_ARGS__), ::valdori::log::render_fields(fields)); \
    }                                                                                               \
  } while (false)

#define VLOG_TRACE(lg, ...) VLOG_AT(lg, ::spdlog::level::trace, __VA_ARGS__)
#define VLOG_DEBUG(lg, ...) VLOG_AT(lg, ::spdlog::level::debug, __VA_ARGS__)
#define VLOG_INFO(lg, ...) VLOG_AT(lg, ::spdlog::level::info, __VA_ARGS__)
#define VLOG_WARN(lg, ...) VLOG_AT(lg, ::spdlog::level::warn, __VA_ARGS__)
#define VLOG_ERROR(lg, ...) VLOG_AT(lg, ::spdlog::level::err, __VA_ARGS__)

// As VLOG_AT and VLOG_AT_FIELDS, rate-limited per call site (RateLimit): for every WARN or ERROR
// that a packet, datagram or query from outside can cause.
#define VLOG_AT_FIELDS_LIMITED(lg, lvl, fields, ...)                                                                  \
  do {                                                                                                                \
    ::spdlog::logger& vlog_lg_ = (lg);                                                                                \
    if (vlog_lg_.should_log(lvl)) {                                                                                   \
      static ::valdori::log::RateLimit vlog_limit_;                                                                   \
      if (const auto vlog_pass_ = vlog_limit_.pass(::valdori::log::steady_ms()); vlog_pass_.log) {                    \
        std::string vlog_text_ = ::fmt::format(__VA_ARGS__) + ::valdori::log::render_fields(fields);                  \
        if (vlog_pass_.suppressed != 0)                                                                               \
          ::fmt::format_to(std::back_inserter(vlog_text_), ::valdori::log::kSuppressedFormat, vlog_pass_.suppressed); \
        vlog_lg_.log(lvl, "{}", vlog_text_);                                                                          \
      }                                                                                                               \
    }                                                                                                                 \
  } while (false)
#define VLOG_AT_LIMITED(lg, lvl, ...) VLOG_AT_FIELDS_LIMITED(lg, lvl, ::valdori::log::Fields{}, __VA_ARGS__)
#define VLOG_WARN_LIMITED(lg, ...) VLOG_AT_LIMITED(lg, ::spdlog::level::warn, __VA_ARGS__)
#define VLOG_ERROR_LIMITED(lg, ...) VLOG_AT_LIMITED(lg, ::spdlog::level::err, __VA_ARGS__)
