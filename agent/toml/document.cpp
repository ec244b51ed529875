#include "agent/toml/document.hpp"

#include <string>

namespace valdori::agent::toml_doc {

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
