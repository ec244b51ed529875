#include "overlay_node/node/span_log.hpp"

#include <optional>
#include <span>

#include "platform/oslog/oslog.hpp"
#include "util/log/scoped_fields.hpp"

namespace valdori::node {
namespace {

// The spans open on this thread, innermost first: an event of a span inside its own `within`
// (or its enclosing one's) is written in the activities and with the fields already open.
class OpenSpan;
thread_local const OpenSpan* innermost_open = nullptr;

class OpenSpan {
 public:
  explicit OpenSpan(const SpanLog* span) : span_(span), outer_(innermost_open) { innermost_open = this; }
  ~OpenSpan() { innermost_open = outer_; }
  OpenSpan(const OpenSpan&) = delete;
  OpenSpan& operator=(const OpenSpan&) = delete;

  const SpanLog* span() const { return span_; }
  const OpenSpan* outer() const { return outer_; }

 private:
  const SpanLog* span_;
  const OpenSpan* outer_;
};

bool is_open(const SpanLog* span) {
  for (const OpenSpan* open = innermost_open; open != nullptr; open = open->outer()) {
    if (open->span() == span) return true;
  }
  return false;
}

}  // namespace

void SpanLog::within(const std::function<void()>& work) const {
  if (is_open(this)) return work();
  const auto enter = [&] {
    std::optional<platform::ActivityScope> activity;
    if (logger_.should_log(log::Level::info)) activity.emplace(std::string(name_));
    const log::Field field{field_, key_ != nullptr ? key_->to_string() : value_};
    std::optional<log::ScopedFields> fields;
    if (!field_.empty()) fields.emplace(std::span(&field, 1));
    const OpenSpan open(this);
    work();
  };
  if (parent_ != nullptr) return parent_->within(enter);
  enter();
}

void SpanLog::write(log::Level level, log::Fields fields, const std::string& message) const {
  within([&] {
    const log::ScopedFields own(std::span(fields.begin(), fields.size()));
    logger_.log(level, "{}", message);
  });
}

}  // namespace valdori::node
