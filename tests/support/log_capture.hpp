// Captures every log event while it lives, at every level, for assertions in tests.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>

#include "util/log/log.hpp"

namespace valdori::testing {

struct CapturedEvent {
  log::Level level;
  std::string target;
  std::string text;
  std::string activities;  // the platform log's activities it was written in, outermost first, ":" between
};

class LogCapture {
 public:
  LogCapture();   // raises the level to TRACE and attaches the capture
  ~LogCapture();  // detaches it and restores the previous level
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedEvent> events() const;
  // The texts of the events at `level`, in order.
  std::vector<std::string> texts(log::Level level) const;
  // True when an event at `level` has exactly `text`.
  bool has(log::Level level, const std::string& text) const;
  // True when an event at `level` contains `fragment`.
  bool has_containing(log::Level level, const std::string& fragment) const;
  void clear();

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
  log::Level previous_level_;
};

}  // namespace valdori::testing
