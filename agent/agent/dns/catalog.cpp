#include "agent/agent/dns/catalog.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "agent/agent/dns/dns_logger.hpp"
#include "agent/network/config/hostname_list.hpp"
#include "agent/network/config/hostname_lowercase.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent::dns {
namespace {

constexpr std::size_t kMaxLabelLen = 63;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

bool is_dns_label(std::string_view name) {
  return !name.empty() && name.size() <= kMaxLabelLen && name.find('.') == std::string_view::npos;
}

// What the lookup needs of a wire-form name; none when the name is malformed.
struct NameShape {
  std::size_t label_count = 0;
  std::string_view first;
  std::string_view last;
};

std::optional<NameShape> name_shape(std::span<const std::uint8_t> name) {
  NameShape shape;
  std::size_t pos = 0;
  for (;;) {
    if (pos >= name.size()) return std::nullopt;
    const std::size_t len = name[pos];
    if (len == 0) return shape;
    if (len > kMaxLabelLen || pos + 1 + len > name.size()) return std::nullopt;
    shape.last = {reinterpret_cast<const char*>(&name[pos + 1]), len};
    if (shape.label_count++ == 0) shape.first = shape.last;
    pos += 1 + len;
  }
}

}  // namespace

DnsCatalog::Lookup DnsCatalog::lookup(std::span<const std::uint8_t> name) const {
  const auto shape = name_shape(name);
  if (!has_zone_ || !shape || shape->label_count == 0 ||
      !equals_ignoring_case(shape->last, network::config::kHostnameZone)) {
    return {Outcome::OutsideZone, {}};
  }
  if (shape->label_count == 1) return {Outcome::Found, {}};  // the zone itself
  // Host names are single labels right below the zone.
  if (shape->label_count > 2) return {Outcome::NoSuchName, {}};
  std::array<char, kMaxLabelLen> lower{};
  std::transform(shape->first.begin(), shape->first.end(), lower.begin(), ascii_lower);
  const auto it = hosts_.find(std::string_view(lower.data(), shape->first.size()));
  if (it == hosts_.end()) return {Outcome::NoSuchName, {}};
  return {Outcome::Found, it->second};
}

DnsCatalog build_catalog(const NetworkMap& networks) {
  auto& logger = dns_logger();
  VLOG_TRACE(logger, "Building DNS catalog");
  DnsCatalog catalog;
  catalog.has_zone_ = true;
  const std::string_view zone = network::config::kHostnameZone;
  for (const auto& [url, network] : networks) {
    const auto& hostnames = network.desired_state.hostnames.applied;
    if (!hostnames) continue;
    for (const auto& [address, hostname] : hostnames->hostnames) {
      VLOG_TRACE(logger, "Adding DNS A record: {}.{} -> {}", util::text::escape_controls(hostname), zone,
                 address.to_string());
      // Served under the form the document checks compare: the full lower-case mapping, so the
      // Kelvin sign followed by "elvin" answers for "kelvin".
      const std::string label = network::config::lowercase_hostname(hostname);
      if (!is_dns_label(label)) {
        VLOG_WARN(logger, "Skipping host name that is not a DNS label: {}", util::text::debug_string(hostname));
        continue;
      }
      auto& addresses = catalog.hosts_[label];
      if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
    }
  }
  return catalog;
}

}  // namespace valdori::agent::dns
