// TOML literals: basic strings, and the characters of bare keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace valdori::agent::toml_doc {

// `text` in double quotes with quotes, backslashes and every control character escaped, so any
// UTF-8 text survives a round trip; absent when `text` is not valid UTF-8 (TOML cannot hold it).
std::optional<std::string> string_literal(std::string_view text);

// A character a bare key may hold: ASCII letters and digits, "_" and "-".
bool is_bare_key_char(char c);

}  // namespace valdori::agent::toml_doc
