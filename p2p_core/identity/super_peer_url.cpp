#include "p2p_core/identity/super_peer_url.hpp"

#include <charconv>
#include <limits>
#include <optional>

#include <fmt/format.h>

#include "util/text/debug_string.hpp"
#include "util/url/percent_encode.hpp"
#include "util/url/url.hpp"

namespace valdori::p2p {
namespace {

using Kind = SuperPeerUrlError::Kind;

constexpr std::string_view kPublicKey = "publicKey";
constexpr std::string_view kNetworkId = "networkId";
constexpr std::string_view kTcpPort = "tcpPort";

SuperPeerUrlError fail(Kind kind, std::string_view detail = {}) { return {kind, std::string(detail)}; }

// Plain decimal digits only: no sign, no blanks, no other base.
template <class T>
std::optional<T> parse_decimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
  auto port = parse_decimal<std::uint16_t>(text);
  if (!port || *port == 0) return std::nullopt;
  return port;
}

// Host names are limited to what a name lookup accepts, so "host:port" stays unambiguous.
bool is_valid_host_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

struct Params {
  std::optional<std::string> public_key;
  std::optional<std::string> network_id;
  std::optional<std::string> tcp_port;
};

boost::system::result<Params, SuperPeerUrlError> collect_params(std::string_view query) {
  Params params;
  for (auto& [key, value] : util::url::parse_urlencoded(query)) {
    std::optional<std::string>* slot = nullptr;
    if (key == kPublicKey)
      slot = &params.public_key;
    else if (key == kNetworkId)
      slot = &params.network_id;
    else if (key == kTcpPort)
      slot = &params.tcp_port;
    else
      return fail(Kind::ParameterUnknown, key);
    if (*slot) return fail(Kind::ParameterRepeated, key);
    *slot = std::move(value);
  }
  return params;
}

}  // namespace

std::string display(const SuperPeerUrlError& e) {
  const std::string d = util::text::escape_controls(e.detail);  // decoded from the URL: any byte
  std::string what;
  switch (e.kind) {
    case Kind::Malformed: what = "malformed URL, expected udp://HOST:PORT?publicKey=HEX&networkId=N[&tcpPort=P]"; break;
    case Kind::SchemeNotUdp: what = fmt::format("scheme must be udp, not '{}'", d); break;
    case Kind::UserInfoPresent: what = "user information is not allowed"; break;
    case Kind::HostMissing: what = "missing host"; break;
    case Kind::HostInvalid: what = fmt::format("invalid host '{}'", d); break;
    case Kind::PortMissing: what = "missing port"; break;
    case Kind::PortInvalid: what = fmt::format("invalid port '{}'", d); break;
    case Kind::PathPresent: what = fmt::format("unexpected path '{}'", d); break;
    case Kind::FragmentPresent: what = "fragment is not allowed"; break;
    case Kind::ParameterMissing: what = fmt::format("missing parameter {}", d); break;
    case Kind::ParameterRepeated: what = fmt::format("parameter {} given more than once", d); break;
    case Kind::ParameterUnknown: what = fmt::format("unknown parameter '{}'", d); break;
    case Kind::PublicKeyInvalid: what = fmt::format("invalid publicKey: {}", d); break;
    case Kind::NetworkIdInvalid: what = fmt::format("invalid networkId '{}'", d); break;
    case Kind::TcpPortInvalid: what = fmt::format("invalid tcpPort '{}'", d); break;
  }
  return "invalid super peer URL: " + what;
}

boost::system::result<SuperPeerUrl, SuperPeerUrlError> SuperPeerUrl::try_from(std::string_view text) {
  const auto parsed = util::Url::parse(text);
  // The parser's own messages would not show the form expected.
  if (!parsed) return fail(Kind::Malformed);
  const util::Url& url = *parsed;

  if (url.scheme() != "udp") return fail(Kind::SchemeNotUdp, url.scheme());
  if (url.includes_credentials()) return fail(Kind::UserInfoPresent);

  // "udp" is no special scheme: its host is opaque unless it is a bracketed IPv6 address.
  SuperPeerUrl result;
  if (!url.host() || url.host()->kind == util::url::Host::Kind::Empty) return fail(Kind::HostMissing);
  const std::string& host = url.host()->serialized;
  if (url.host()->kind == util::url::Host::Kind::Ipv6) {
    result.host_ = host.substr(1, host.size() - 2);
    result.host_is_ipv6_ = true;
  } else {
    result.host_ = util::url::percent_decode(host);
    if (!is_valid_host_name(result.host_)) return fail(Kind::HostInvalid, result.host_);
  }

  if (!url.port()) return fail(Kind::PortMissing);
  if (*url.port() == 0) return fail(Kind::PortInvalid, "0");
  result.port_ = *url.port();

  if (const std::string path = url.path(); !path.empty() && path != "/") return fail(Kind::PathPresent, path);
  if (url.fragment()) return fail(Kind::FragmentPresent);

  auto params = collect_params(url.query().value_or(""));
  if (!params) return params.error();

  if (!params->public_key) return fail(Kind::ParameterMissing, kPublicKey);
  auto pk = PubKey::from_str(*params->public_key);
  if (!pk) return fail(Kind::PublicKeyInvalid, crypto::error::display(pk.error()));
  result.pk_ = *pk;

  if (!params->network_id) return fail(Kind::ParameterMissing, kNetworkId);
  const auto network_id = parse_decimal<std::uint32_t>(*params->network_id);
  if (!network_id) return fail(Kind::NetworkIdInvalid, *params->network_id);
  result.network_id_ = *network_id;

  result.tcp_port_ = result.port_;
  if (params->tcp_port) {
    const auto tcp_port = parse_port(*params->tcp_port);
    if (!tcp_port) return fail(Kind::TcpPortInvalid, *params->tcp_port);
    result.tcp_port_ = *tcp_port;
  }
  return result;
}

std::string SuperPeerUrl::addr() const {
  return host_is_ipv6_ ? fmt::format("[{}]:{}", host_, port_) : fmt::format("{}:{}", host_, port_);
}

std::string SuperPeerUrl::to_string() const {
  return fmt::format("udp://{}?{}={}&{}={}&{}={}", addr(), kPublicKey, pk_.to_string(), kNetworkId, network_id_,
                     kTcpPort, tcp_port_);
}

std::array<std::uint8_t, 4> SuperPeerUrl::network_id_bytes() const {
  return {static_cast<std::uint8_t>(network_id_ >> 24), static_cast<std::uint8_t>(network_id_ >> 16),
          static_cast<std::uint8_t>(network_id_ >> 8), static_cast<std::uint8_t>(network_id_)};
}

}  // namespace valdori::p2p
