#include "agent/toml/quoted_line.hpp"

#include <algorithm>

#include "util/text/debug_string.hpp"
#include "util/text/utf8.hpp"

namespace valdori::agent::toml_doc {

using util::text::code_point_count;
using util::text::code_point_offset;
using util::text::escape_controls;
using util::text::kCutMark;
using util::text::kWhole;

QuotedLine quoted_line(std::string_view line, std::size_t column) {
  // Escaped in two parts, split where the caret's character starts: its escaped form starts
  // where the first part ends. A caret past the line's end stays as far past it.
  const std::size_t split = code_point_offset(line, column - 1);
  const std::size_t past_end = column - 1 - code_point_count(line.substr(0, split));
  std::string text = escape_controls(line.substr(0, split), kWhole);
  const std::size_t caret = code_point_count(text) + past_end;  // from 0
  text += escape_controls(line.substr(split), kWhole);
  const std::size_t length = code_point_count(text);
  if (length <= kQuotedWidth) return {std::move(text), caret + 1};

  // kQuotedWidth code points with the caret in their middle, as far as the line allows.
  const std::size_t first =
      std::min(caret > kQuotedWidth / 2 ? caret - kQuotedWidth / 2 : std::size_t{0}, length - kQuotedWidth);
  const std::size_t begin = code_point_offset(text, first);
  const std::size_t end = begin + code_point_offset(std::string_view(text).substr(begin), kQuotedWidth);
  QuotedLine quoted;
  if (first > 0) quoted.text = kCutMark;
  quoted.text.append(text, begin, end - begin);
  if (end < text.size()) quoted.text += kCutMark;
  quoted.column = caret - first + 1 + (first > 0 ? kCutMark.size() : 0);
  return quoted;
}

}  // namespace valdori::agent::toml_doc
