// Sending application data to one peer through its send handle.
#pragma once

#include <cstdint>
#include <span>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/node/error.hpp"
#include "p2p_core/node/send_handle.hpp"

namespace valdori::node {

// Sends `data` as one APP message: over the recipient's best direct path (short header once the
// recipient has given this node a short id), else relayed through the default super peer, over
// its TCP link when one is published, else over its UDP paths in order. Works on one snapshot of
// the handle's state and takes no lock. The caller keeps `data` until the call completes.
boost::asio::awaitable<boost::system::result<void, p2p::node::error::Error>> send(const p2p::node::SendHandle& handle,
                                                                                  std::span<const std::uint8_t> data);

}  // namespace valdori::node
