// The log target of the overlay side of the packet path.
#pragma once

#include "util/log/log.hpp"

namespace valdori::agent {

inline spdlog::logger& node_logger() { return log::module_logger<"valdori_agent::agent::node">(); }

}  // namespace valdori::agent
