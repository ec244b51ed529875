#include "util/url/host.hpp"

#include <algorithm>
#include <utility>

#include "util/url/code_points.hpp"
#include "util/url/idna.hpp"
#include "util/url/ip_address.hpp"
#include "util/url/percent_encode.hpp"

namespace valdori::util::url {
namespace {

constexpr bool is_forbidden_host_code_point(char32_t c) {
  switch (c) {
    case 0x00:
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '#':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|': return true;
    default: return false;
  }
}

constexpr bool is_forbidden_domain_code_point(char32_t c) {
  return is_forbidden_host_code_point(c) || c <= 0x1f || c == '%' || c == 0x7f;
}

boost::system::result<Host, HostError> parse_opaque_host(std::u32string_view input) {
  if (std::ranges::any_of(input, is_forbidden_host_code_point)) return HostError::ForbiddenCodePoint;
  Host host{Host::Kind::Opaque, {}};
  for (const char32_t c : input) utf8_percent_encode(c, EncodeSet::C0Control, host.serialized);
  if (host.serialized.empty()) host.kind = Host::Kind::Empty;
  return host;
}

}  // namespace

std::string_view describe(HostError error) {
  switch (error) {
    case HostError::Ipv6Invalid: return "invalid IPv6 address";
    case HostError::ForbiddenCodePoint: return "forbidden code point in host";
    case HostError::DomainInvalid: return "invalid domain";
    case HostError::Ipv4Invalid: return "invalid IPv4 address";
  }
  return "invalid host";
}

boost::system::result<Host, HostError> parse_host(std::u32string_view input, bool is_opaque) {
  if (input.starts_with(U'[')) {
    if (!input.ends_with(U']') || input.size() < 2) return HostError::Ipv6Invalid;
    const auto address = parse_ipv6(input.substr(1, input.size() - 2));
    if (!address) return HostError::Ipv6Invalid;
    std::string serialized = "[";
    serialized += serialize_ipv6(*address);
    serialized += ']';
    return Host{Host::Kind::Ipv6, std::move(serialized)};
  }
  if (is_opaque) return parse_opaque_host(input);

  // Percent-escapes name the domain's bytes ("ex%61mple.com"); bytes that are no UTF-8 become
  // U+FFFD, which the domain parser refuses.
  const std::string domain = encode_utf8(decode_utf8(percent_decode(encode_utf8(input))));
  auto ascii_domain = domain_to_ascii(domain);
  if (!ascii_domain || ascii_domain->empty()) return HostError::DomainInvalid;
  if (std::ranges::any_of(*ascii_domain,
                          [](char c) { return is_forbidden_domain_code_point(static_cast<unsigned char>(c)); })) {
    return HostError::ForbiddenCodePoint;
  }
  if (ends_in_a_number(*ascii_domain)) {
    const auto address = parse_ipv4(*ascii_domain);
    if (!address) return HostError::Ipv4Invalid;
    return Host{Host::Kind::Ipv4, serialize_ipv4(*address)};
  }
  return Host{Host::Kind::Domain, std::move(*ascii_domain)};
}

}  // namespace valdori::util::url
