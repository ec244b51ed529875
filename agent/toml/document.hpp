// Reading TOML documents: parsing text into a document tree (the parser's exceptions stop here)
// and the errors found while reading the tree into our own types, with the place in the document
// they belong to.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <toml++/toml.h>
#include <boost/system/result.hpp>

namespace valdori::agent::toml_doc {

struct ReadError {
  std::string message;
  // Where the offending value (or the table missing a key) starts; absent when unknown.
  std::optional<::toml::source_position> position;

  bool operator==(const ReadError&) const = default;
};

// Lets `ReadResult::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const ReadError& error, const boost::source_location& location);

template <class T>
using ReadResult = boost::system::result<T, ReadError>;

// "missing field `key`", placed at `table`.
ReadError missing_field(const ::toml::node& table, std::string_view key);
// "invalid type: integer `5`, expected a string", placed at `value`.
ReadError invalid_type(const ::toml::node& value, std::string_view expected);
// "invalid value: integer `70000`, expected ...", placed at `value`.
ReadError invalid_value(const ::toml::node& value, std::string_view expected);
// A message of our own (a rejected key text, a bad URL), placed at `value`.
ReadError error_at(const ::toml::node& value, std::string message);

// The error as shown to people: the line and column, the offending line of `source` with a
// caret under the column, then the message. Without a position, the message alone. Secrets in
// the line and the message are masked (masked_text.hpp), then their control characters escaped
// and a long line cut (quoted_line.hpp); the caret stays on its character.
std::string render(const ReadError& error, std::string_view source);

// Parses TOML text. Syntax errors (including a key given twice in one table) come back with their position.
ReadResult<::toml::table> parse_document(std::string_view text);

}  // namespace valdori::agent::toml_doc
