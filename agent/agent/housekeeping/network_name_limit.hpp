// The longest network name the configuration file takes. A document's name is written into the
// file, which is read back with at most util::fs::kMaxDocumentBytes, the limit of a controller's
// reply too: one name as long as a reply allows would make the file unreadable.
#pragma once

#include <cstddef>
#include <optional>

#include "agent/agent/error.hpp"
#include "agent/network/config/network_config.hpp"

namespace valdori::agent::housekeeping {

// Far above any name a person gives a network (it takes 256 characters of four bytes each, or
// 1024 ASCII ones), far below the file's limit: thousands of networks so named still fit.
inline constexpr std::size_t kMaxNetworkNameBytes = 1024;

// Why the document's name cannot go into the configuration file, with its beginning escaped;
// nothing when it can.
std::optional<error::Error> overlong_name(const network::config::NetworkConfig& document);

}  // namespace valdori::agent::housekeeping
