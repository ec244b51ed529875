// Host lookups through c-ares on the node's executor. Every lookup has a channel of its own whose
// sockets and timeouts the executor watches, so a lookup whose name server never answers holds up
// nothing but itself: no resolver thread is shared, and it is given up at its own limit.
#pragma once

#include <chrono>
#include <string>

#include "overlay_node/util/lookup_host.hpp"

namespace valdori::peer {

// `servers` ("127.0.0.1:5300,[::1]:53") replaces the system's name servers; empty keeps them.
// A lookup still unanswered after `limit` is cancelled and fails.
HostResolver ares_resolver(std::string servers = {}, std::chrono::milliseconds limit = kLookupLimit);

}  // namespace valdori::peer
