#include "agent/controller/auth_models.hpp"

#include <array>
#include <string_view>
#include <tuple>

namespace valdori::controller::auth {
namespace {

using Kind = AuthServerError::Kind;

constexpr std::array<std::string_view, 8> kKindNames = {
    "NotFound",   "Unauthorized",       "Forbidden",      "InternalServerError",
    "BadGateway", "ServiceUnavailable", "GatewayTimeout", "ServerError"};

[[noreturn]] void unknown_variant(std::string_view name) {
  agent::json_doc::fail(fmt::format("enum AuthServerError: unknown variant `{}`", name));
}

std::optional<Kind> kind_named(std::string_view name) {
  for (std::size_t i = 0; i < kKindNames.size(); ++i) {
    if (kKindNames[i] == name) return static_cast<Kind>(i);
  }
  return std::nullopt;
}

// The body of {"ServerError": {...}}; a bare "ServerError" arrives here as that string.
AuthServerError server_error(const nlohmann::ordered_json& body) {
  using namespace agent::json_doc;
  auto error = decode_fields<AuthServerError>(body, Label{"struct variant", "AuthServerError::ServerError"},
                                              std::tuple{field("status", &AuthServerError::status)});
  error.kind = Kind::ServerError;
  return error;
}

}  // namespace

AuthServerError decode_auth_server_error(const nlohmann::ordered_json& value) {
  if (value.is_string()) {
    const auto& name = value.get_ref<const std::string&>();
    const auto kind = kind_named(name);
    if (!kind) unknown_variant(name);
    if (*kind == Kind::ServerError) return server_error(value);
    return AuthServerError{*kind};
  }
  if (!value.is_object() || value.size() != 1) agent::json_doc::invalid_type(value, "enum AuthServerError");
  const auto member = value.begin();
  const std::string& name = member.key();
  const auto& body = member.value();
  const auto kind = kind_named(name);
  if (!kind) unknown_variant(name);
  if (*kind == Kind::ServerError) return server_error(body);
  if (!body.is_null()) agent::json_doc::invalid_type(body, fmt::format("unit variant AuthServerError::{}", name));
  return AuthServerError{*kind};
}

}  // namespace valdori::controller::auth
