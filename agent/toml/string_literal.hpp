// TOML basic strings: written from any text, and read back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace valdori::agent::toml_doc {

// `text` in double quotes with quotes, backslashes and every control character escaped, so any
// UTF-8 text survives a round trip; absent when `text` is not valid UTF-8 (TOML cannot hold it).
std::optional<std::string> string_literal(std::string_view text);

// The text a basic string's content stands for (`s\u006b` reads "sk"). For reading text that
// may not parse: an escape that cannot be read stays as it is written.
std::string basic_string_text(std::string_view content);

}  // namespace valdori::agent::toml_doc
