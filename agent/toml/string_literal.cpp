#include "agent/toml/string_literal.hpp"

#include <fmt/format.h>

#include "util/text/utf8.hpp"

namespace valdori::agent::toml_doc {

std::optional<std::string> string_literal(std::string_view text) {
  if (!util::text::is_valid_utf8(text)) return std::nullopt;
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (const auto byte = static_cast<unsigned char>(c); byte < 0x20 || byte == 0x7F) {
          out += fmt::format("\\u{:04X}", byte);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

bool is_bare_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

}  // namespace valdori::agent::toml_doc
