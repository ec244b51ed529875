// Events logged inside a span: a named piece of work (a housekeeping pass, one peer's step, a
// link) at INFO level, with at most one field of its own (a peer's key, say) and possibly an
// enclosing span. Every event of the span gets the field appended, so that interleaved lines of
// concurrent work stay attributable, and is written inside the platform log's activities of the
// span and its enclosing spans ("housekeeping:super_peer_housekeeping: ..." where the platform
// has no activities). Like an event, a span below its logger's level is not entered: its events
// are written without the activity, but keep the field.
//
// An activity cannot stay open across a suspension (the coroutine may resume on another
// thread), so each event opens it for its own write; `within` does the same for a stretch of
// work that does not suspend, for the events of other loggers inside it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "platform/oslog/oslog.hpp"
#include "util/log/log.hpp"

namespace valdori::node {

class SpanLog {
 public:
  SpanLog(spdlog::logger& logger, std::string_view name, const SpanLog* parent = nullptr)
      : logger_(logger), name_(name), parent_(parent) {}
  SpanLog(spdlog::logger& logger, std::string_view name, std::string_view field, std::string value,
          const SpanLog* parent = nullptr)
      : logger_(logger), name_(name), field_(field), value_(std::move(value)), parent_(parent) {}

  spdlog::logger& logger() const { return logger_; }

  template <typename... Args>
  void log(log::Level level, fmt::format_string<Args...> text, Args&&... args) const {
    log_with(level, {}, text, std::forward<Args>(args)...);
  }

  // With further fields of this event after the span's own.
  template <typename... Args>
  void log_with(log::Level level, log::Fields fields, fmt::format_string<Args...> text, Args&&... args) const {
    if (!logger_.should_log(level)) return;
    std::string message = fmt::format(text, std::forward<Args>(args)...);
    if (!field_.empty()) message += log::render_fields({{field_, value_}});
    message += log::render_fields(fields);
    within([&] { logger_.log(level, "{}", message); });
  }

  // Runs `work`, which must not suspend, inside the activities of this span and its enclosing ones.
  void within(const std::function<void()>& work) const {
    const auto enter = [&] {
      if (!logger_.should_log(log::Level::info)) return work();
      const platform::ActivityScope activity{std::string(name_)};
      work();
    };
    if (parent_ != nullptr) return parent_->within(enter);
    enter();
  }

 private:
  spdlog::logger& logger_;
  std::string_view name_;
  std::string_view field_;
  std::string value_;
  const SpanLog* parent_;
};

}  // namespace valdori::node
