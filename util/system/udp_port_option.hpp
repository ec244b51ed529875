// The fixed UDP port of the overlay node, from VALDORI_UDP_PORT.
#pragma once

#include <cstdint>
#include <optional>

namespace valdori::util::system {

// The whole text, untrimmed, as a port number with one optional "+"; unset, empty, blank or
// unreadable text gives no fixed port.
std::optional<std::uint16_t> udp_port_option();

}  // namespace valdori::util::system
