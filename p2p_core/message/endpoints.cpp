#include "p2p_core/message/endpoints.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {
namespace {

constexpr std::uint8_t kFamilyV4 = 4;
constexpr std::uint8_t kFamilyV6 = 6;
constexpr std::size_t kPortLen = 2;

std::size_t address_len(std::uint8_t family) {
  return family == kFamilyV4 ? boost::asio::ip::address_v4::bytes_type().size()
                             : boost::asio::ip::address_v6::bytes_type().size();
}

// Decodes the endpoint at `at`, which the list's check has shown to be whole and well formed.
net::SocketAddr decode_endpoint(const std::uint8_t* at) {
  const std::uint8_t family = at[0];
  const std::uint8_t* address = at + 1;
  const auto port = load_big_endian<std::uint16_t>(address + address_len(family));
  if (family == kFamilyV4) {
    boost::asio::ip::address_v4::bytes_type bytes;
    std::copy_n(address, bytes.size(), bytes.begin());
    return {boost::asio::ip::address_v4(bytes), port};
  }
  boost::asio::ip::address_v6::bytes_type bytes;
  std::copy_n(address, bytes.size(), bytes.begin());
  return {boost::asio::ip::address_v6(bytes), port};
}

std::size_t encoded_len(const std::uint8_t* at) { return 1 + address_len(at[0]) + kPortLen; }

}  // namespace

bool is_usable_endpoint(const net::SocketAddr& endpoint) {
  return endpoint.port() != 0 && !endpoint.address().is_unspecified() && !endpoint.address().is_multicast();
}

std::vector<std::uint8_t> encode_endpoints(std::span<const net::SocketAddr> endpoints) {
  std::vector<std::uint8_t> out{0};
  for (const auto& endpoint : endpoints) {
    if (out[0] == kMaxEndpoints) break;
    if (!is_usable_endpoint(endpoint)) continue;
    const auto& address = endpoint.address();
    if (address.is_v4()) {
      out.push_back(kFamilyV4);
      const auto bytes = address.to_v4().to_bytes();
      out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
      out.push_back(kFamilyV6);
      const auto bytes = address.to_v6().to_bytes();
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.resize(out.size() + kPortLen);
    store_big_endian(out.data() + out.size() - kPortLen, endpoint.port());
    ++out[0];
  }
  return out;
}

boost::system::result<EndpointList, error::Error> EndpointList::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return error::EndpointInvalid{"missing endpoint count"};
  const std::size_t count = bytes[0];
  if (count > kMaxEndpoints)
    return error::EndpointInvalid{fmt::format("{} endpoints exceed the limit of {}", count, kMaxEndpoints)};
  std::size_t offset = 1;
  for (std::size_t i = 0; i < count; ++i) {
    if (offset == bytes.size()) return error::EndpointInvalid{"truncated endpoint list"};
    const std::uint8_t family = bytes[offset];
    if (family != kFamilyV4 && family != kFamilyV6)
      return error::EndpointInvalid{fmt::format("unknown address family {}", family)};
    if (bytes.size() - offset < encoded_len(bytes.data() + offset)) return error::EndpointInvalid{"truncated endpoint"};
    const net::SocketAddr endpoint = decode_endpoint(bytes.data() + offset);
    if (endpoint.port() == 0) return error::EndpointPortInvalid{};
    if (!is_usable_endpoint(endpoint)) return error::EndpointAddrInvalid{endpoint.address()};
    offset += encoded_len(bytes.data() + offset);
  }
  if (offset != bytes.size())
    return error::EndpointInvalid{fmt::format("{} bytes after the last endpoint", bytes.size() - offset)};
  return EndpointList(bytes);
}

net::SocketAddr EndpointList::Iterator::operator*() const { return decode_endpoint(at_); }

EndpointList::Iterator& EndpointList::Iterator::operator++() {
  at_ += encoded_len(at_);
  return *this;
}

EndpointList::Iterator EndpointList::Iterator::operator++(int) {
  Iterator before = *this;
  ++*this;
  return before;
}

}  // namespace valdori::p2p::message
