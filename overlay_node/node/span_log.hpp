// Events logged inside a span: a named piece of work (a housekeeping pass, one peer's step, a
// link, a send) at INFO level, with at most one field of its own (a peer's key, say) and possibly
// an enclosing span. Every event of the span gets the fields of the span and its enclosing spans
// appended, so that interleaved lines of concurrent work stay attributable, and is written inside
// the platform log's activities of the span and its enclosing spans
// ("housekeeping:super_peer_housekeeping: ..." where the platform has no activities). Like an
// event, a span below its logger's level is not entered: its events are written without the
// activity, but keep the fields.
//
// An activity cannot stay open across a suspension (the coroutine may resume on another
// thread), so each event opens it for its own write; `within` does the same for a stretch of
// work that does not suspend, for the events of other loggers inside it, which carry the span's
// fields too (log::ScopedFields).
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "p2p_core/identity/keys.hpp"
#include "util/log/log.hpp"

namespace valdori::node {

class SpanLog {
 public:
  SpanLog(spdlog::logger& logger, std::string_view name, const SpanLog* parent = nullptr)
      : logger_(logger), name_(name), parent_(parent) {}
  SpanLog(spdlog::logger& logger, std::string_view name, std::string_view field, std::string value,
          const SpanLog* parent = nullptr)
      : logger_(logger), name_(name), field_(field), value_(std::move(value)), parent_(parent) {}
  // With the field's text made from `key`, which outlives the span, only when an event is
  // written: a span per packet costs nothing while its events are below their level.
  SpanLog(spdlog::logger& logger, std::string_view name, std::string_view field, const p2p::PubKey& key,
          const SpanLog* parent = nullptr)
      : logger_(logger), name_(name), field_(field), key_(&key), parent_(parent) {}

  spdlog::logger& logger() const { return logger_; }

  template <typename... Args>
  void log(log::Level level, fmt::format_string<Args...> text, Args&&... args) const {
    log_with(level, {}, text, std::forward<Args>(args)...);
  }

  // With further fields of this event after the span's own.
  template <typename... Args>
  void log_with(log::Level level, log::Fields fields, fmt::format_string<Args...> text, Args&&... args) const {
    if (!logger_.should_log(level)) return;
    write(level, fields, fmt::format(text, std::forward<Args>(args)...));
  }

  // As log_with, noting how many lines before it a limit left out (SPAN_LOG_LIMITED).
  template <typename... Args>
  void log_after_limit(log::Level level, std::uint64_t suppressed, log::Fields fields, fmt::format_string<Args...> text,
                       Args&&... args) const {
    std::string message = fmt::format(text, std::forward<Args>(args)...);
    if (suppressed != 0) fmt::format_to(std::back_inserter(message), log::kSuppressedFormat, suppressed);
    write(level, fields, message);
  }

  // Runs `work`, which must not suspend, inside the activities of this span and its enclosing
  // ones, with their fields on every event written meanwhile.
  void within(const std::function<void()>& work) const;

 private:
  void write(log::Level level, log::Fields fields, const std::string& message) const;

  spdlog::logger& logger_;
  std::string_view name_;
  std::string_view field_;
  std::string value_;
  const p2p::PubKey* key_ = nullptr;
  const SpanLog* parent_;
};

}  // namespace valdori::node

// As SpanLog::log_with, for a line that input from outside can repeat at will: through a limit
// of this call site's own (log::RateLimit). No argument is evaluated for a line left out.
#define SPAN_LOG_LIMITED(span, lvl, fields, ...)                                                             \
  do {                                                                                                       \
    const ::valdori::node::SpanLog& span_log_ = (span);                                                      \
    if (span_log_.logger().should_log(lvl)) {                                                                \
      static ::valdori::log::RateLimit span_log_limit_;                                                      \
      if (const auto span_log_pass_ = span_log_limit_.pass(::valdori::log::steady_ms()); span_log_pass_.log) \
        span_log_.log_after_limit(lvl, span_log_pass_.suppressed, fields, __VA_ARGS__);                      \
    }                                                                                                        \
  } while (false)
