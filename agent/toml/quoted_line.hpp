// A document line as an error quotes it under its position: control characters escaped, so that
// the quote stays one line and cannot move the cursor, and a long line cut around the caret, so
// that one line of a document cannot fill a log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace valdori::agent::toml_doc {

// Code points of a quoted line at most, besides the marks of a cut.
inline constexpr std::size_t kQuotedWidth = 160;

struct QuotedLine {
  std::string text;
  std::size_t column = 1;  // code points from 1, as the parser's
};

// `line` as quoted, with `column` moved with its character: after escaping, and past the cut.
QuotedLine quoted_line(std::string_view line, std::size_t column);

}  // namespace valdori::agent::toml_doc
