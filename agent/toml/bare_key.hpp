// TOML's bare keys: the key names written without quotes.
#pragma once

namespace valdori::agent::toml_doc {

// A character a bare key may hold: ASCII letters and digits, "_" and "-".
constexpr bool is_bare_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

}  // namespace valdori::agent::toml_doc
