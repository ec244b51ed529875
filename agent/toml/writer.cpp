#include "agent/toml/writer.hpp"

#include <algorithm>
#include <stdexcept>

#include <boost/throw_exception.hpp>

#include <fmt/format.h>

#include "agent/toml/bare_key.hpp"
#include "agent/toml/string_literal.hpp"

namespace valdori::agent::toml_doc {
namespace {

bool is_bare_key(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), is_bare_key_char);
}

}  // namespace

void throw_exception_from_error(const WriteError& error, const boost::source_location& location) {
  boost::throw_exception(std::runtime_error(error.message), location);
}

void DocumentWriter::key(std::string_view name) {
  if (is_bare_key(name)) {
    out_ += name;
  } else if (auto quoted = string_literal(name)) {
    out_ += *quoted;
  } else if (error_.empty()) {
    error_ = "key is not valid UTF-8";
  }
}

void DocumentWriter::append_string(std::string_view owner, std::string_view value) {
  if (auto quoted = string_literal(value)) {
    out_ += *quoted;
  } else if (error_.empty()) {
    error_ = fmt::format("value of `{}` is not valid UTF-8", owner);
  }
}

void DocumentWriter::string(std::string_view name, std::string_view value) {
  key(name);
  out_ += " = ";
  append_string(name, value);
  out_ += '\n';
}

void DocumentWriter::boolean(std::string_view name, bool value) {
  key(name);
  out_ += value ? " = true\n" : " = false\n";
}

void DocumentWriter::integer(std::string_view name, std::int64_t value) {
  key(name);
  out_ += fmt::format(" = {}\n", value);
}

void DocumentWriter::string_array(std::string_view name, std::span<const std::string> values) {
  key(name);
  out_ += " = [";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out_ += ", ";
    append_string(name, values[i]);
  }
  out_ += "]\n";
}

void DocumentWriter::header(std::string_view open, std::string_view name, std::string_view close) {
  if (!out_.empty()) out_ += '\n';
  out_ += open;
  key(name);
  out_ += close;
  out_ += '\n';
}

void DocumentWriter::table(std::string_view name) { header("[", name, "]"); }

void DocumentWriter::array_table(std::string_view name) { header("[[", name, "]]"); }

boost::system::result<std::string, WriteError> DocumentWriter::finish() && {
  if (!error_.empty()) return WriteError{std::move(error_)};
  return {boost::system::in_place_value, std::move(out_)};
}

}  // namespace valdori::agent::toml_doc
