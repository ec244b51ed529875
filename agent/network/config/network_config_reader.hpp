// Reading network configuration documents into the model. Unknown keys are ignored; a missing
// key, a value of the wrong type or text that does not parse fails the whole read, and so do
// two nodes sharing a public key, an address or a host name (compared lower-cased) and two
// routes sharing a destination. Repeated groups and repeated policies collapse silently.
#pragma once

#include <string_view>

#include <toml++/toml.h>

#include "agent/network/config/network_config.hpp"
#include "agent/toml/document.hpp"

namespace valdori::network::config {

// One network: the top-level table of a single-network document, or one entry of the
// controller's document.
agent::toml_doc::ReadResult<NetworkConfig> read_network_config(const ::toml::table& table);

// The controller's reply: the `network` array of tables, in document order, without the checks
// of `NetworkConfig::try_from`. Render an error with `agent::toml_doc::render` and `text`.
agent::toml_doc::ReadResult<MultiNetworkConfig> parse_multi_network_config(std::string_view text);

}  // namespace valdori::network::config
