#include "agent/toml/document.hpp"

#include <cstddef>
#include <stdexcept>
#include <string>

#include <fmt/format.h>
#include <boost/throw_exception.hpp>

#include "agent/toml/masked_text.hpp"
#include "agent/toml/quoted_line.hpp"
#include "agent/toml/string_literal.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent::toml_doc {
namespace {

std::optional<::toml::source_position> position_of(const ::toml::node& node) {
  const ::toml::source_position begin = node.source().begin;
  if (!begin) return std::nullopt;
  return begin;
}

// How a value shows up in a message: its TOML type, and the value itself when it is short.
std::string describe(const ::toml::node& value) {
  switch (value.type()) {
    case ::toml::node_type::string: return "string " + string_literal(value.as_string()->get()).value_or("\"\"");
    case ::toml::node_type::integer: return fmt::format("integer `{}`", value.as_integer()->get());
    case ::toml::node_type::floating_point: {
      std::string number = fmt::format("{}", value.as_floating_point()->get());
      // Shown as a float even when whole: "1.0", not "1".
      if (number.find_first_not_of("-0123456789") == std::string::npos) number += ".0";
      return fmt::format("floating point `{}`", number);
    }
    case ::toml::node_type::boolean: return fmt::format("boolean `{}`", value.as_boolean()->get());
    case ::toml::node_type::table: return "table";
    case ::toml::node_type::array: return "array";
    case ::toml::node_type::date:
    case ::toml::node_type::time:
    case ::toml::node_type::date_time: return "datetime";
    case ::toml::node_type::none: break;
  }
  return "nothing";
}

}  // namespace

void throw_exception_from_error(const ReadError& error, const boost::source_location& location) {
  boost::throw_exception(std::runtime_error(error.message), location);
}

ReadError missing_field(const ::toml::node& table, std::string_view key) {
  return {fmt::format("missing field `{}`", key), position_of(table)};
}

ReadError invalid_type(const ::toml::node& value, std::string_view expected) {
  return {fmt::format("invalid type: {}, expected {}", describe(value), expected), position_of(value)};
}

ReadError invalid_value(const ::toml::node& value, std::string_view expected) {
  return {fmt::format("invalid value: {}, expected {}", describe(value), expected), position_of(value)};
}

ReadError error_at(const ::toml::node& value, std::string message) { return {std::move(message), position_of(value)}; }

std::string render(const ReadError& error, std::string_view source) {
  using util::text::escape_controls;
  if (!error.position) return escape_controls(masked_message(error.message, false));
  const std::size_t line = error.position->line;
  const std::size_t column = error.position->column;
  const MaskedLine shown = masked_line(source, line, column);
  const QuotedLine quoted = quoted_line(shown.text, shown.column);
  const std::string number = std::to_string(line);
  const std::string gutter(number.size(), ' ');
  return fmt::format("TOML parse error at line {}, column {}\n{} |\n{} | {}\n{} | {:>{}}\n{}", line, column, gutter,
                     number, quoted.text, gutter, "^", quoted.column,
                     escape_controls(masked_message(error.message, shown.held_secret)));
}

ReadResult<::toml::table> parse_document(std::string_view text) {
  try {
    return ::toml::parse(text, std::string_view{});
  } catch (const ::toml::parse_error& e) {
    std::optional<::toml::source_position> position;
    if (e.source().begin) position = e.source().begin;
    return ReadError{std::string(e.description()), position};
  }
}

}  // namespace valdori::agent::toml_doc
