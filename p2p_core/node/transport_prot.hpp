// The transport of a failed send.
#pragma once

#include <cstdint>
#include <string_view>

namespace valdori::p2p::node {

enum class TransportProt : std::uint8_t {
  TCP = 0,
  UDP = 1,
};

// "TCP" or "UDP".
constexpr std::string_view debug(TransportProt prot) { return prot == TransportProt::TCP ? "TCP" : "UDP"; }

}  // namespace valdori::p2p::node
