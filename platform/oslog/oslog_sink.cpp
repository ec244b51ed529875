#include "platform/oslog/oslog_sink.hpp"

#include <fmt/format.h>

namespace valdori::platform {

OsLogType os_log_type(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug: return OsLogType::Debug;
    case spdlog::level::info: return OsLogType::Info;
    case spdlog::level::warn: return OsLogType::Default;
    case spdlog::level::err: return OsLogType::Error;
    case spdlog::level::critical: return OsLogType::Fault;
    default: return OsLogType::Default;
  }
}

void OsLogSink::sink_it_(const spdlog::details::log_msg& msg) {
  log_->write(os_log_type(msg.level),
              fmt::format("{} {}: {}", spdlog::level::to_string_view(msg.level), msg.logger_name,
                          std::string_view(msg.payload.data(), msg.payload.size())));
}

}  // namespace valdori::platform
