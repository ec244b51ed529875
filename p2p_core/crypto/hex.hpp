// Lower-case hexadecimal text of byte strings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"

namespace valdori::p2p::crypto {

std::string hex_encode(std::span<const std::uint8_t> bytes);

// Decodes `text` into exactly `out.size()` bytes; upper- and lower-case digits are accepted.
boost::system::result<void, error::HexError> hex_decode_into(std::string_view text, std::span<std::uint8_t> out);
boost::system::result<std::vector<std::uint8_t>, error::HexError> hex_decode(std::string_view text);

}  // namespace valdori::p2p::crypto
