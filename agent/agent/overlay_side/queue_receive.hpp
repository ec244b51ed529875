// The receive step the workers that drain a packet queue share.
#pragma once

#include <string_view>

#include <boost/asio/experimental/channel_error.hpp>
#include <boost/system/result.hpp>

#include "agent/agent/overlay_side/node_logger.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent {

// Whether a worker goes on with what its queue receive gave. It stops once `token` is cancelled
// (the item, if any, is dropped), when the receive itself was aborted, and when the queue is
// closed: then nothing could ever arrive again, so the failure is logged as a receive from
// `source` and `token` is cancelled to stop the agent.
template <class T>
bool received(const boost::system::result<T>& item, const util::CancellationToken& token, std::string_view source) {
  if (token.is_cancelled()) return false;
  if (item) return true;
  if (item.error() != boost::asio::experimental::error::channel_cancelled) {
    VLOG_ERROR(node_logger(), "Failed to receive packet from {}. Cancel token: {}", source, item.error().message());
    token.cancel();
  }
  return false;
}

}  // namespace valdori::agent
