#include "agent/network/config/list_text.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "util/text/debug_string.hpp"

namespace valdori::network::config {
namespace {

// Every cell is padded to its column width (never cut) and followed by one blank, except the
// last, which is padded too and followed by the line feed.
template <std::size_t N>
void append_row(std::string& out, const std::array<std::string_view, N>& cells,
                const std::array<std::size_t, N>& widths) {
  for (std::size_t i = 0; i < N; ++i) {
    fmt::format_to(std::back_inserter(out), "{:<{}}", cells[i], widths[i]);
    out += i + 1 < N ? ' ' : '\n';
  }
}

constexpr std::array<std::size_t, 5> kAccessRuleWidths{4, 18, 18, 64, 6};
constexpr std::array<std::size_t, 2> kRoutingWidths{18, 15};
constexpr std::size_t kHostnameAddressWidth = 15;

// OUT before IN, then by source, then by destination (each by address, then prefix length).
std::vector<EffectiveAccessRule> sorted_rules(const EffectiveAccessRuleList& list) {
  std::vector<EffectiveAccessRule> rules;
  rules.reserve(list.rules.size());
  for (const auto& [key, rule] : list.rules) rules.push_back(rule);
  std::sort(rules.begin(), rules.end(), [](const EffectiveAccessRule& a, const EffectiveAccessRule& b) {
    if (a.direction != b.direction) return a.direction == Direction::OUT;
    if (a.source != b.source) return a.source < b.source;
    return a.dest < b.dest;
  });
  return rules;
}

std::vector<EffectiveRoute> sorted_routes(const EffectiveRoutingList& list) {
  std::vector<EffectiveRoute> routes;
  routes.reserve(list.routes.size());
  for (const auto& [dest, route] : list.routes) routes.push_back(route);
  std::sort(routes.begin(), routes.end(), [](const auto& a, const auto& b) { return a.dest < b.dest; });
  return routes;
}

std::vector<std::pair<Ipv4Addr, std::string_view>> sorted_hostnames(const HostnameList& list) {
  std::vector<std::pair<Ipv4Addr, std::string_view>> entries(list.hostnames.begin(), list.hostnames.end());
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first.to_uint() < b.first.to_uint(); });
  return entries;
}

std::string debug(const EffectiveRoute& route) {
  return fmt::format("EffectiveRoute {{ dest: {}, gw: {} }}", route.dest, route.gw.to_string());
}

}  // namespace

std::string_view display(Direction direction) { return direction == Direction::IN ? "IN" : "OUT"; }

std::string_view display(Action action) { return action == Action::Allow ? "ALLOW" : "DENY"; }

std::string_view debug(Direction direction) { return display(direction); }

std::string_view debug(Action action) { return action == Action::Allow ? "Allow" : "Deny"; }

std::string display(const EffectiveAccessRule& rule) {
  return fmt::format("direction={} source={} dest={} pk={} action={}\n", display(rule.direction), rule.source,
                     rule.dest, rule.pk, debug(rule.action));
}

std::string debug(const EffectiveAccessRule& rule) {
  return fmt::format("EffectiveAccessRule {{ direction: {}, source: {}, dest: {}, pk: {}, action: {} }}",
                     debug(rule.direction), rule.source, rule.dest, rule.pk, debug(rule.action));
}

std::string display(const EffectiveAccessRuleList& list) {
  std::string out;
  append_row<5>(out, {"Type", "Source", "Destination", "PubKey", "Action"}, kAccessRuleWidths);
  for (const auto& rule : sorted_rules(list)) {
    append_row<5>(out,
                  {display(rule.direction), rule.source.to_string(), rule.dest.to_string(), rule.pk.to_string(),
                   display(rule.action)},
                  kAccessRuleWidths);
  }
  return out;
}

std::string display(const EffectiveRoutingList& list) {
  std::string out;
  append_row<2>(out, {"Destination", "Gateway"}, kRoutingWidths);
  for (const auto& route : sorted_routes(list)) {
    append_row<2>(out, {route.dest.to_string(), route.gw.to_string()}, kRoutingWidths);
  }
  return out;
}

std::string display(const HostnameList& list) {
  std::string out = fmt::format("{:<{}} Hostname\n", "IP", kHostnameAddressWidth);
  for (const auto& [addr, hostname] : sorted_hostnames(list)) {
    // Taken from the controller's reply as received: escaped, it cannot add rows of its own.
    fmt::format_to(std::back_inserter(out), "{:<{}} {}.{}\n", addr.to_string(), kHostnameAddressWidth,
                   util::text::escape_controls(hostname), kHostnameZone);
  }
  return out;
}

std::string debug(const EffectiveAccessRuleList& list) {
  std::vector<std::string> entries;
  for (const auto& rule : sorted_rules(list)) {
    entries.push_back(fmt::format("EffectiveAccessRuleListEntryKey {{ direction: {}, source: {}, dest: {} }}: {}",
                                  debug(rule.direction), rule.source, rule.dest, debug(rule)));
  }
  return fmt::format("EffectiveAccessRuleList({{{}}})", fmt::join(entries, ", "));
}

std::string debug(const EffectiveRoutingList& list) {
  std::vector<std::string> entries;
  for (const auto& route : sorted_routes(list)) entries.push_back(fmt::format("{}: {}", route.dest, debug(route)));
  return fmt::format("EffectiveRoutingList({{{}}})", fmt::join(entries, ", "));
}

std::string debug(const EffectiveForwardingList& list) {
  std::vector<Ipv4Net> destinations(list.destinations.begin(), list.destinations.end());
  std::sort(destinations.begin(), destinations.end());
  return fmt::format("EffectiveForwardingList({{{}}})", fmt::join(destinations, ", "));
}

std::string debug(const HostnameList& list) {
  std::vector<std::string> entries;
  for (const auto& [addr, hostname] : sorted_hostnames(list)) {
    entries.push_back(fmt::format("{}: {}", addr.to_string(), util::text::debug_string(hostname)));
  }
  return fmt::format("HostnameList({{{}}})", fmt::join(entries, ", "));
}

}  // namespace valdori::network::config
