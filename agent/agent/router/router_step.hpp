// The router step of the desired-state application. The host sets the routes itself from the
// network-change record, so this step only records them as applied. This node cannot act as a
// gateway here: a forwarding list with entries is recorded as an error instead.
#pragma once

#include <string_view>

#include "agent/agent/config.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::router {

// Logged at WARN and recorded as the error of the applied forwardings.
inline constexpr std::string_view kGatewayNotSupported =
    "We're configured as a gateway. Forwarding is not supported on this platform.";

// Copies the network's desired routes and forwardings to its applied ones; nothing when `url`
// is not in the map.
void apply_desired_state(NetworkMap& networks, const util::Url& url);

}  // namespace valdori::agent::router
