// The log target of the embedded DNS responder.
#pragma once

#include "util/log/log.hpp"

namespace valdori::agent::dns {

inline spdlog::logger& dns_logger() { return log::module_logger<"valdori_agent::agent::dns::shared">(); }

}  // namespace valdori::agent::dns
