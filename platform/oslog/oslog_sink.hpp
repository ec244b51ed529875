// A log sink that writes every event into the platform's unified log.
#pragma once

#include <memory>

#include <spdlog/sinks/base_sink.h>

#include "platform/oslog/oslog.hpp"

namespace valdori::platform {

class OsLogSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit OsLogSink(std::shared_ptr<const OsLog> log) : log_(std::move(log)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override {}

 private:
  std::shared_ptr<const OsLog> log_;
};

// The unified log's type for an event level.
OsLogType os_log_type(spdlog::level::level_enum level);

}  // namespace valdori::platform
