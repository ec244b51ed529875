// The log target of the node state.
#pragma once

#include "util/log/log.hpp"

namespace valdori::p2p::node {

inline spdlog::logger& node_logger() {
  static spdlog::logger& logger = log::logger("valdori_p2p::node::inner");
  return logger;
}

}  // namespace valdori::p2p::node
