// Whether a TUN or TAP interface puts a packet information header before each packet, asked of
// the kernel in the interface's own network namespace (Linux).
#pragma once

#include <optional>
#include <string_view>

namespace valdori::platform {

// Whether the interface behind the tunnel descriptor `fd`, named `name` as TUNGETIFF gives it,
// was opened without IFF_NO_PI. Empty where that interface cannot be asked about: a kernel
// without TUNGETDEVNETNS, a process without CAP_NET_ADMIN, or an interface in another network
// namespace where the process may not enter it (CAP_SYS_ADMIN).
std::optional<bool> tun_has_packet_info(int fd, std::string_view name);

}  // namespace valdori::platform
