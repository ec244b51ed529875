#include "agent/agent/inner/channel_sink.hpp"

#include "util/log/log.hpp"

namespace valdori::agent {

void ChannelSink::accept(const p2p::PubKey& sender, std::vector<std::uint8_t> message) {
  if (const auto refused = queue_->try_push(InboundItem{sender, std::move(message)})) {
    VLOG_WARN_LIMITED(log::module_logger<"valdori_agent::agent">(), "Received APP dropped: {}", *refused);
  }
}

}  // namespace valdori::agent
