// The platform's unified log: a log object per subsystem and category, messages written at a
// level, and activity scopes that group the messages of one piece of work.
// On Apple platforms this is the system's unified logging; elsewhere the messages go to
// syslog (when opened with Destination::Syslog) or to standard error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace valdori::platform {

enum class OsLogType : std::uint8_t { Debug, Info, Default, Error, Fault };

class OsLog {
 public:
  enum class Destination : std::uint8_t { Stderr, Syslog };

  OsLog(std::string subsystem, std::string category, Destination destination = Destination::Syslog);
  ~OsLog();
  OsLog(const OsLog&) = delete;
  OsLog& operator=(const OsLog&) = delete;

  void write(OsLogType type, std::string_view message) const;

  const std::string& subsystem() const { return subsystem_; }
  const std::string& category() const { return category_; }

 private:
  std::string subsystem_;
  std::string category_;
  Destination destination_;
#ifdef __APPLE__
  void* handle_ = nullptr;  // the platform's log object
#endif
};

// Marks the messages written while it lives as one activity, named by `description`.
// Scopes nest; on platforms without activities the name prefixes each message instead.
class ActivityScope {
 public:
  explicit ActivityScope(std::string description);
  ~ActivityScope();
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;

  // The descriptions of the scopes open on this thread, outermost first, joined by ":".
  static std::string current_path();

 private:
  std::string description_;
  ActivityScope* outer_;
};

}  // namespace valdori::platform
