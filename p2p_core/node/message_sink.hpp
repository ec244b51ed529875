// Where the node delivers received application data. Called from the node's receiving tasks for
// every message, so an implementation must not wait.
#pragma once

#include <cstdint>
#include <vector>

#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p::node {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void accept(const PubKey& sender, std::vector<std::uint8_t> message) = 0;
};

}  // namespace valdori::p2p::node
