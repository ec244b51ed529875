// Parsing TOML text into a document tree; the parser's exceptions stop here.
#pragma once

#include <string_view>

#include <toml++/toml.h>

#include "agent/toml/read_error.hpp"

namespace valdori::agent::toml_doc {

// Syntax errors (including a key given twice in one table) come back with their position.
ReadResult<::toml::table> parse_document(std::string_view text);

}  // namespace valdori::agent::toml_doc
