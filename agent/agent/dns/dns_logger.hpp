// The log target of the embedded DNS responder.
#pragma once

#include "util/log/log.hpp"

namespace valdori::agent::dns {

inline spdlog::logger& dns_logger() {
  static spdlog::logger& logger = log::logger("valdori_agent::agent::dns::shared");
  return logger;
}

}  // namespace valdori::agent::dns
