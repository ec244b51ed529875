#include "util/system/env.hpp"

#include <cstdlib>

#include "util/log/log.hpp"
#include "util/text/utf8.hpp"

namespace valdori::util::system {

std::optional<std::string> env_text(std::string_view name) {
  const std::string variable = "VALDORI_" + std::string(name);
  const char* value = std::getenv(variable.c_str());
  if (value == nullptr || !text::is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

void warn_capped(std::string_view name, std::string_view value, std::string_view max) {
  VLOG_WARN(log::logger("valdori_util::system"), "VALDORI_{} is {}, above the limit of {}: using {}", name, value, max,
            max);
}

std::int32_t get_task_count(std::string_view name, std::int32_t default_value) {
  return get_env_at_most<std::int32_t>(name, default_value, kMaxTaskCount);
}

std::optional<std::uint16_t> udp_port_option() {
  // Blank text fails the number parse, so it needs no case of its own.
  return parse_option<std::uint16_t>(get_env<std::string>("UDP_PORT", ""));
}

}  // namespace valdori::util::system
