// Sets or unsets an environment variable for the guard's lifetime and restores the old value.
// Use only while no other thread runs (as in a GoogleTest body).
#pragma once

#include <optional>
#include <string>

namespace valdori::testing {

class EnvGuard {
 public:
  // Sets `name` to `value`, or unsets it when `value` is absent.
  EnvGuard(std::string name, const std::optional<std::string>& value);
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace valdori::testing
