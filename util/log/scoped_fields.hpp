// Fields that every event written on this thread carries while a scope lives, after the event's
// own text: those of the spans the event is written in, so that the events of loggers that know
// nothing of a span are attributable to it too. Scopes nest; the outermost one's fields come
// first.
//
// A scope must not live across a suspension: the coroutine may resume on another thread, and
// other work runs on this one in between. An event written outside every scope pays one
// thread-local read.
#pragma once

#include <span>
#include <string>

#include "util/log/log.hpp"

namespace valdori::log {

class ScopedFields {
 public:
  // `fields` outlive the scope.
  explicit ScopedFields(std::span<const Field> fields);
  ~ScopedFields();
  ScopedFields(const ScopedFields&) = delete;
  ScopedFields& operator=(const ScopedFields&) = delete;

  // Whether a scope is open on this thread.
  static bool any_open() noexcept;
  // Appends " key=value" for the fields of the scopes open on this thread, outermost first.
  static void append_open(std::string& text);

 private:
  std::span<const Field> fields_;
  const ScopedFields* outer_;
};

}  // namespace valdori::log
