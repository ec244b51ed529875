#include "tools/super_peer/server/address_group.hpp"

#include <algorithm>

namespace valdori::super_peer {

boost::asio::ip::address address_group(const boost::asio::ip::address& address) {
  if (address.is_v4()) return address;
  const auto v6 = address.to_v6();
  if (v6.is_v4_mapped()) return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6);
  auto bytes = v6.to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return boost::asio::ip::address_v6(bytes);
}

}  // namespace valdori::super_peer
