#include "tests/support/env_guard.hpp"

#include <cstdlib>

namespace valdori::testing {
namespace {

void apply(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

EnvGuard::EnvGuard(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  apply(name_, value);
}

EnvGuard::~EnvGuard() { apply(name_, previous_); }

}  // namespace valdori::testing
