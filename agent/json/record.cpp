#include "agent/json/record.hpp"

namespace valdori::agent::json_doc {

void fail(const std::string& message) { throw DecodeError(message); }

std::string member_context(const std::string& key) {
  if (key.size() > kShownLength) return "a member";
  return "member " + nlohmann::json(key).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

std::string describe(nlohmann::json::value_t type, std::string_view literal) {
  using Type = nlohmann::json::value_t;
  switch (type) {
    case Type::string: return literal.empty() ? "string" : fmt::format("string {}", literal);
    case Type::number_integer:
    case Type::number_unsigned: return fmt::format("integer `{}`", literal);
    case Type::number_float: return fmt::format("floating point `{}`", literal);
    case Type::boolean: return fmt::format("boolean `{}`", literal);
    case Type::object: return "object";
    case Type::array: return "array";
    case Type::null: return "null";
    case Type::binary:
    case Type::discarded: break;
  }
  return "nothing";
}

}  // namespace valdori::agent::json_doc
