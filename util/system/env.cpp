#include "util/system/env.hpp"

#include <cstdlib>

#include "util/text/utf8.hpp"

namespace valdori::util::system {

std::optional<std::string> env_text(std::string_view name) {
  const std::string variable = "VALDORI_" + std::string(name);
  const char* value = std::getenv(variable.c_str());
  if (value == nullptr || !text::is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

}  // namespace valdori::util::system
