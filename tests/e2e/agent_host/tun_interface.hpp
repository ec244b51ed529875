// The host's TUN interface, served from the root network namespace while it lives in another.
#pragma once

#include <cstdint>
#include <string>

#include <boost/system/result.hpp>

namespace valdori::e2e {

// Creates the TUN interface `name` (bare IPv4 packets, no packet-information prefix) in the
// process's namespace, sets its MTU, moves it into the namespace `netns` and brings it up
// there. Gives the open descriptor, which keeps serving the interface after the move; the
// interface goes away when the descriptor is closed.
boost::system::result<int, std::string> open_tun_in_namespace(const std::string& name, std::uint16_t mtu,
                                                              const std::string& netns);

}  // namespace valdori::e2e
