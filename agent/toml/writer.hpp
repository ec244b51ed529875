// A small TOML writer that keeps keys in the order they are written (the TOML library sorts
// them). Plain key/value lines go first, then tables; the caller writes them in that order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <boost/system/result.hpp>

namespace valdori::agent::toml_doc {

struct WriteError {
  std::string message;
  bool operator==(const WriteError&) const = default;
};

// Lets `result::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const WriteError& error, const boost::source_location& location);

class DocumentWriter {
 public:
  void string(std::string_view key, std::string_view value);
  void boolean(std::string_view key, bool value);
  void integer(std::string_view key, std::int64_t value);
  // Written inline on one line; an empty list gives "key = []".
  void string_array(std::string_view key, std::span<const std::string> values);
  // "[name]" and "[[name]]"; later key/value lines belong to it.
  void table(std::string_view name);
  void array_table(std::string_view name);

  // The document, or the first value that TOML cannot hold (text that is not UTF-8).
  boost::system::result<std::string, WriteError> finish() &&;

 private:
  void key(std::string_view name);
  void header(std::string_view open, std::string_view name, std::string_view close);
  void append_string(std::string_view key, std::string_view value);

  std::string out_;
  std::string error_;
};

}  // namespace valdori::agent::toml_doc
