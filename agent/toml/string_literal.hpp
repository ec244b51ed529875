// TOML basic-string literals.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace valdori::agent::toml_doc {

// `text` in double quotes with quotes, backslashes and every control character escaped, so any
// UTF-8 text survives a round trip; absent when `text` is not valid UTF-8 (TOML cannot hold it).
std::optional<std::string> string_literal(std::string_view text);

}  // namespace valdori::agent::toml_doc
