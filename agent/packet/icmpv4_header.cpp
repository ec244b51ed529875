#include "agent/packet/icmpv4_header.hpp"

#include "agent/packet/checksum.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::packet {

void write_icmpv4_header(std::span<std::uint8_t> message, std::uint8_t type, std::uint8_t code,
                         std::uint32_t rest_of_header) {
  using p2p::message::store_big_endian;
  message[0] = type;
  message[1] = code;
  store_big_endian(&message[2], std::uint16_t{0});
  store_big_endian(&message[4], rest_of_header);
  store_big_endian(&message[2], internet_checksum(message));
}

}  // namespace valdori::packet
