// The clock deviation the status report shows.
#pragma once

#include <memory>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent::housekeeping {

// No time server can be asked on this platform, so the deviation is recorded as unknown.
boost::asio::awaitable<void> check_and_update_time_deviation(std::shared_ptr<AgentInner> inner);

}  // namespace valdori::agent::housekeeping
