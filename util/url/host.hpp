// The URL Standard's host parser: domains (IDNA), IPv4 and IPv6 addresses, opaque hosts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/system/result.hpp>

namespace valdori::util::url {

struct Host {
  enum class Kind : std::uint8_t { Domain, Ipv4, Ipv6, Opaque, Empty };
  Kind kind = Kind::Empty;
  std::string serialized;  // as the host serializer writes it: IPv6 in brackets

  bool operator==(const Host&) const = default;
};

// What made a host fail, for the URL parser's error text.
enum class HostError : std::uint8_t { Ipv6Invalid, ForbiddenCodePoint, DomainInvalid, Ipv4Invalid };

std::string_view describe(HostError error);

// `is_opaque` for URLs of non-special schemes: their hosts are percent-encoded, not IDNA-mapped.
boost::system::result<Host, HostError> parse_host(std::u32string_view input, bool is_opaque);

}  // namespace valdori::util::url
