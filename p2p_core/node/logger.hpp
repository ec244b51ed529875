// The log target of the node state.
#pragma once

#include "util/log/log.hpp"

namespace valdori::p2p::node {

inline spdlog::logger& node_logger() { return log::module_logger<"valdori_p2p::node::inner">(); }

}  // namespace valdori::p2p::node
