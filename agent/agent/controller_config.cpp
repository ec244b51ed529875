#include "agent/agent/controller_config.hpp"

#include <string_view>

#include "util/overloaded.hpp"

namespace valdori::agent {
namespace {

constexpr std::string_view kDefaultApiUrl = "https://api.valdori.net/api";
constexpr std::string_view kDefaultAuthUrl = "https://auth.valdori.net";

}  // namespace

std::string to_string(const ControllerConnectionStatus& status) {
  return std::visit(util::Overloaded{
                        [](const ControllerConnectionStatus::Initializing&) { return std::string("Initializing"); },
                        [](const ControllerConnectionStatus::LoggedOut&) { return std::string("LoggedOut"); },
                        [](const ControllerConnectionStatus::Ok&) { return std::string("Ok"); },
                        [](const ControllerConnectionStatus::Err& e) { return "Err: " + e.message; },
                    },
                    status.kind);
}

std::string ControllerConfig::url_or_default() const { return url.value_or(std::string(kDefaultApiUrl)); }

std::string ControllerConfig::auth_url_or_default() const { return auth_url.value_or(std::string(kDefaultAuthUrl)); }

}  // namespace valdori::agent
