// Settings of the controller connection as the configuration file keeps them, and the last
// known state of that connection (memory only).
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace valdori::agent {

struct ControllerConnectionStatus {
  struct Initializing {
    bool operator==(const Initializing&) const = default;
  };
  struct LoggedOut {
    bool operator==(const LoggedOut&) const = default;
  };
  struct Ok {
    bool operator==(const Ok&) const = default;
  };
  struct Err {
    std::string message;
    bool operator==(const Err&) const = default;
  };

  std::variant<Initializing, LoggedOut, Ok, Err> kind;

  bool operator==(const ControllerConnectionStatus&) const = default;
};

// "Initializing", "LoggedOut", "Ok", or "Err: " followed by the message.
std::string to_string(const ControllerConnectionStatus& status);

struct ControllerConfig {
  std::optional<std::string> url;
  std::optional<std::string> auth_url;
  std::optional<std::string> display_login_email;
  std::optional<std::string> shared_secret;
  ControllerConnectionStatus connection_status;  // never saved; Initializing after every read

  // The configured controller API base URL, else the built-in one.
  std::string url_or_default() const;
  // The configured authorization server URL, else the built-in one.
  std::string auth_url_or_default() const;

  bool operator==(const ControllerConfig&) const = default;
};

}  // namespace valdori::agent
