// Endpoint lists inside HELLO and UNITE messages: the UDP addresses under which a node may be
// reached. Encoded as a count byte, then per endpoint a family byte (4 or 6), the address (4 or
// 16 bytes) and the port (2 bytes, big-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/message/error.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::message {

// At most this many endpoints travel in one list, so that an armed HELLO or UNITE with IPv6
// endpoints only (19 bytes each) still fits well inside the default maximum message length.
inline constexpr std::size_t kMaxEndpoints = 32;

// Whether a peer could send to the endpoint: a port and an address that is neither unspecified
// nor multicast.
bool is_usable_endpoint(const net::SocketAddr& endpoint);

// The encoded list of the first kMaxEndpoints usable endpoints; unusable ones are left out.
std::vector<std::uint8_t> encode_endpoints(std::span<const net::SocketAddr> endpoints);

// A checked encoded list, read in place.
class EndpointList {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = net::SocketAddr;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = net::SocketAddr;

    Iterator() = default;
    net::SocketAddr operator*() const;
    Iterator& operator++();
    Iterator operator++(int);
    bool operator==(const Iterator&) const = default;

   private:
    friend class EndpointList;
    explicit Iterator(const std::uint8_t* at) : at_(at) {}
    const std::uint8_t* at_ = nullptr;
  };

  // `bytes` must be exactly one encoded list whose endpoints are all usable.
  static boost::system::result<EndpointList, error::Error> parse(std::span<const std::uint8_t> bytes);

  std::size_t size() const { return bytes_[0]; }
  Iterator begin() const { return Iterator(bytes_.data() + 1); }
  Iterator end() const { return Iterator(bytes_.data() + bytes_.size()); }

 private:
  explicit EndpointList(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::span<const std::uint8_t> bytes_;
};

}  // namespace valdori::p2p::message
