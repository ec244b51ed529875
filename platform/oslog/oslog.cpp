#include "platform/oslog/oslog.hpp"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <utility>

#ifdef __APPLE__
#include <os/activity.h>
#include <os/log.h>
#endif

namespace valdori::platform {
namespace {

thread_local ActivityScope* innermost_scope = nullptr;

#ifndef __APPLE__
int syslog_priority(OsLogType type) {
  switch (type) {
    case OsLogType::Debug: return LOG_DEBUG;
    case OsLogType::Info: return LOG_INFO;
    case OsLogType::Default: return LOG_NOTICE;
    case OsLogType::Error: return LOG_ERR;
    case OsLogType::Fault: return LOG_CRIT;
  }
  return LOG_NOTICE;
}

const char* type_name(OsLogType type) {
  switch (type) {
    case OsLogType::Debug: return "debug";
    case OsLogType::Info: return "info";
    case OsLogType::Default: return "default";
    case OsLogType::Error: return "error";
    case OsLogType::Fault: return "fault";
  }
  return "default";
}
#endif

}  // namespace

OsLog::OsLog(std::string subsystem, std::string category, Destination destination)
    : subsystem_(std::move(subsystem)), category_(std::move(category)), destination_(destination) {
#ifdef __APPLE__
  handle_ = os_log_create(subsystem_.c_str(), category_.c_str());
#else
  if (destination_ == Destination::Syslog) openlog(subsystem_.c_str(), LOG_PID, LOG_USER);
#endif
}

OsLog::~OsLog() {
#ifdef __APPLE__
  os_release(static_cast<os_log_t>(handle_));
#else
  if (destination_ == Destination::Syslog) closelog();
#endif
}

void OsLog::write(OsLogType type, std::string_view message) const {
  std::string scopes = ActivityScope::current_path();
#ifdef __APPLE__
  os_log_with_type(static_cast<os_log_t>(handle_), static_cast<os_log_type_t>(type), "%{public}.*s",
                   static_cast<int>(message.size()), message.data());
#else
  std::string prefix = scopes.empty() ? std::string() : scopes + ": ";
  if (destination_ == Destination::Syslog) {
    syslog(syslog_priority(type), "[%s] %s%.*s", category_.c_str(), prefix.c_str(), static_cast<int>(message.size()),
           message.data());
  } else {
    static std::mutex stderr_mutex;
    std::lock_guard lock(stderr_mutex);
    std::fprintf(stderr, "%s[%s] %s: %s%.*s\n", subsystem_.c_str(), category_.c_str(), type_name(type), prefix.c_str(),
                 static_cast<int>(message.size()), message.data());
  }
#endif
}

ActivityScope::ActivityScope(std::string description) : description_(std::move(description)), outer_(innermost_scope) {
  innermost_scope = this;
}

ActivityScope::~ActivityScope() { innermost_scope = outer_; }

std::string ActivityScope::current_path() {
  std::string path;
  for (const ActivityScope* s = innermost_scope; s != nullptr; s = s->outer_) {
    path = path.empty() ? s->description_ : s->description_ + ":" + path;
  }
  return path;
}

}  // namespace valdori::platform
