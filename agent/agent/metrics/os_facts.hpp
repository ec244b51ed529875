// Which operating system and version the device runs, learnt from the system's own programs and
// files. Each program may take at most kProbeLimit; one that does not answer in time, cannot be
// started or prints nothing usable leaves its fact at the fallback.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/awaitable.hpp>

#include "platform/process/process_runner.hpp"

namespace valdori::agent::metrics {

inline constexpr std::chrono::milliseconds kProbeLimit{2000};

struct OsFacts {
  std::string os;
  std::optional<std::string> os_version;
  bool operator==(const OsFacts&) const = default;
};

// Apple's mobile systems: iPadOS when "uname -m" starts with "ipad" or "sysctl -n hw.model"
// contains it (any case), else iOS; the version from "sw_vers -productVersion", else derived from
// the kernel release of "uname -r".
boost::asio::awaitable<OsFacts> apple_os_facts(platform::ProcessRunner& runner);

// Other systems: the name from `os_release` (NAME, then ID) when it names a known system, else
// "Linux"; the version is the kernel release of "uname -r" as printed.
boost::asio::awaitable<OsFacts> unix_os_facts(platform::ProcessRunner& runner, const std::filesystem::path& os_release);

// The facts of the system this build runs on.
boost::asio::awaitable<OsFacts> os_facts(platform::ProcessRunner& runner);

// The processor architecture this build was made for: "x86_64", "aarch64", ...
std::string_view build_arch();

}  // namespace valdori::agent::metrics
