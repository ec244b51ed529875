// The log target of the agent's housekeeping runner, its pass and the per-network steps.
#pragma once

#include "util/log/log.hpp"

namespace valdori::agent::housekeeping {

inline spdlog::logger& housekeeping_logger() { return log::module_logger<"valdori_agent::agent::housekeeping">(); }

}  // namespace valdori::agent::housekeeping
