// The operating systems the controller knows by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace valdori::agent::metrics {

enum class Os : std::uint8_t {
  MacOs,
  Windows,
  TvOs,
  Ios,
  IpadOs,
  Android,
  Linux,
  Ubuntu,
  Debian,
  Fedora,
  CentOs,
  Rhel,
  Arch,
  OpenSuse,
  Sles,
  Gentoo,
  Slackware,
  LinuxMint,
  ElementaryOs,
  Manjaro,
  Raspbian,
};

// "macOS", "Linux Mint", ...
std::string_view display(Os os);

// An exact name ("Red Hat Enterprise Linux", "SLE", ...) first; otherwise the first of the
// distributions' lower-case marks found in the lower-cased text, "linux" last. Nothing when no
// mark matches.
std::optional<Os> parse_os(std::string_view text);

}  // namespace valdori::agent::metrics
