// The log target of the overlay side of the packet path.
#pragma once

#include "util/log/log.hpp"

namespace valdori::agent {

inline spdlog::logger& node_logger() {
  static spdlog::logger& logger = log::logger("valdori_agent::agent::node");
  return logger;
}

}  // namespace valdori::agent
