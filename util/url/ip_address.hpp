// The URL Standard's IPv4 and IPv6 address parsers and serializers, as the host parser uses them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace valdori::util::url {

using Ipv4Address = std::uint32_t;
using Ipv6Address = std::array<std::uint16_t, 8>;

// True when the last label (a trailing empty one aside) is all digits or a "0x" hex number: the
// host parser then reads the whole domain as an IPv4 address.
bool ends_in_a_number(std::string_view input);

// Dotted forms of one to four decimal, octal ("0" prefix) or hex ("0x") numbers, the last filling
// the remaining bytes ("127.1", "0x7f.1"); nothing for anything else.
std::optional<Ipv4Address> parse_ipv4(std::string_view input);
std::optional<Ipv6Address> parse_ipv6(std::u32string_view input);

std::string serialize_ipv4(Ipv4Address address);
// Lower-case hex pieces with the first longest run of two or more zero pieces written as "::".
std::string serialize_ipv6(const Ipv6Address& address);

}  // namespace valdori::util::url
