// The overlay node's message sink: every received application message goes into the inbound
// queue, without waiting; a full or closed queue drops it with a warning.
#pragma once

#include <memory>

#include "agent/agent/inner/agent_inner.hpp"
#include "p2p_core/node/message_sink.hpp"

namespace valdori::agent {

class ChannelSink : public p2p::node::MessageSink {
 public:
  explicit ChannelSink(std::shared_ptr<InboundQueue> queue) : queue_(std::move(queue)) {}
  void accept(const p2p::PubKey& sender, std::vector<std::uint8_t> message) override;

 private:
  std::shared_ptr<InboundQueue> queue_;
};

}  // namespace valdori::agent
