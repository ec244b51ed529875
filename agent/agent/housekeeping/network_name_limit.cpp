#include "agent/agent/housekeeping/network_name_limit.hpp"

#include <string_view>

#include <fmt/format.h>

#include "util/text/debug_string.hpp"

namespace valdori::agent::housekeeping {
namespace {

// Bytes of a refused name that its error shows.
constexpr std::size_t kShownNameWidth = 64;

}  // namespace

std::optional<error::Error> overlong_name(const network::config::NetworkConfig& document) {
  if (!document.name || document.name->size() <= kMaxNetworkNameBytes) return std::nullopt;
  const std::string_view name = *document.name;
  return error::Error(
      error::Kind::Network,
      fmt::format("network name of {} bytes, more than the {} the configuration file takes: {}", name.size(),
                  kMaxNetworkNameBytes, util::text::escape_controls(name, kShownNameWidth)));
}

}  // namespace valdori::agent::housekeeping
