// Events logged inside a span that carries one field (a peer's key, say): every event of the
// span gets the field appended, so that interleaved lines of concurrent work stay attributable.
#pragma once

#include <string>
#include <utility>

#include <fmt/format.h>

#include "util/log/log.hpp"

namespace valdori::node {

class SpanLog {
 public:
  SpanLog(spdlog::logger& logger, std::string_view field, std::string value)
      : logger_(logger), field_(field), value_(std::move(value)) {}

  spdlog::logger& logger() const { return logger_; }

  template <typename... Args>
  void log(log::Level level, fmt::format_string<Args...> text, Args&&... args) const {
    log_with(level, {}, text, std::forward<Args>(args)...);
  }

  // With further fields of this event after the span's own.
  template <typename... Args>
  void log_with(log::Level level, log::Fields fields, fmt::format_string<Args...> text, Args&&... args) const {
    if (!logger_.should_log(level)) return;
    logger_.log(level, "{}{}{}", fmt::format(text, std::forward<Args>(args)...), log::render_fields({{field_, value_}}),
                log::render_fields(fields));
  }

 private:
  spdlog::logger& logger_;
  std::string_view field_;
  std::string value_;
};

}  // namespace valdori::node
