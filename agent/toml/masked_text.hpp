// Document text as an error may show it: the values of secret keys (`sk`, `shared_secret`) and
// the credentials of URLs masked, whether or not the text parses. The document is read as text
// (its strings, comments and `key = value` pairs, line by line), so a broken line is masked as
// well as a sound one: a key however it is written (quoted, with escapes, followed by a careless
// ":" or by no separator), a value however far it runs (a multi-line string, array or inline
// table keeps the lines it spans masked), an assignment inside a comment. A secret's value is all
// its line holds after the separator: a quote inside a secret ends its string early, and what
// follows is more of the secret. URLs are masked as util::mask_url masks them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace valdori::agent::toml_doc {

struct MaskedLine {
  std::string text;
  // The given column moved with the text before it (a column inside a masked part points at the
  // mask's start); columns count code points from 1, as the parser's do.
  std::size_t column = 1;
  bool held_secret = false;  // a secret key's value was masked
};

// Line `line_number` (from 1) of `source`, masked. A secret value opened on an earlier line (a
// multi-line string, an array, an inline table) keeps the lines it spans masked.
MaskedLine masked_line(std::string_view source, std::size_t line_number, std::size_t column);

// A message with the credentials of its URLs masked. Messages quote the values they refuse
// ('0x1c5c…', `12345`): after a line that held a secret, every quoted part longer than one
// character is masked too (a single character is the parser's "saw 'x'").
std::string masked_message(std::string_view message, bool line_held_secret);

}  // namespace valdori::agent::toml_doc
