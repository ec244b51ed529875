// Recognises the overlay's own control traffic inside a tunnel packet, so that neither packet
// direction carries it between the tunnel and the overlay.
#pragma once

#include <cstdint>
#include <span>

namespace valdori::agent {

// True for an IPv4 packet carrying UDP whose payload starts with the overlay magic number.
// Takes any bytes, validated or not; only the IPv4 header's bounds, the protocol and the four
// payload bytes are looked at.
bool is_valdori_control_packet(std::span<const std::uint8_t> packet);

}  // namespace valdori::agent
