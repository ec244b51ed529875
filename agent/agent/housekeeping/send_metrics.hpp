// The last step of a housekeeping pass with a controller: the metrics upload.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent::housekeeping {

// One line per controller network in trouble ("Network URL: Pending", "...: RetrieveConfigError
// - message", "...: NotAMemberError"), in the map's order, joined by line feeds; nothing when
// none is.
std::optional<std::string> error_log_text(const NetworkMap& networks);

// Builds the metrics record and PUTs it to the controller, signed with `shared_secret`. The
// outcome is logged; nothing is returned or recorded.
boost::asio::awaitable<void> send_metrics(std::shared_ptr<AgentInner> inner, std::string shared_secret,
                                          std::optional<std::string> ui_version);

}  // namespace valdori::agent::housekeeping
