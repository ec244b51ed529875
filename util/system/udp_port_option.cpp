#include "util/system/udp_port_option.hpp"

#include "util/system/env.hpp"

namespace valdori::util::system {

std::optional<std::uint16_t> udp_port_option() {
  // Blank text fails the number parse, so it needs no case of its own.
  return parse_option<std::uint16_t>(get_env<std::string>("UDP_PORT", ""));
}

}  // namespace valdori::util::system
