#include "tests/e2e/agent_host/interface_settings.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "tests/e2e/agent_host/command.hpp"

namespace valdori::e2e {
namespace {

using util::net::Ipv4Net;

const std::vector<Ipv4Net>& or_empty(const std::optional<std::vector<Ipv4Net>>& list) {
  static const std::vector<Ipv4Net> empty;
  return list ? *list : empty;
}

bool contains(const std::vector<Ipv4Net>& list, const Ipv4Net& net) {
  return std::find(list.begin(), list.end(), net) != list.end();
}

// The routes the interface needs: one to each overlay network and the agent's routes.
std::vector<Ipv4Net> routes_of(const agent::NetworkChange& change) {
  std::vector<Ipv4Net> routes = or_empty(change.routes);
  for (const Ipv4Net& net : or_empty(change.ips)) {
    if (!contains(routes, net.trunc())) routes.push_back(net.trunc());
  }
  return routes;
}

// The rendering the host interface gives the host: comma-separated CIDRs, empty when absent.
std::string render(const std::optional<std::vector<Ipv4Net>>& list) {
  return fmt::format("{}", fmt::join(or_empty(list), ","));
}

}  // namespace

InterfaceSettings::InterfaceSettings(std::string netns, std::string interface, std::filesystem::path dns_file)
    : netns_(std::move(netns)), interface_(std::move(interface)), dns_file_(std::move(dns_file)) {}

bool InterfaceSettings::ip(std::vector<std::string> args) const {
  args.insert(args.begin(), {"ip", "-n", netns_});
  args.insert(args.end(), {"dev", interface_});
  return run_command(args);
}

void InterfaceSettings::apply(const agent::NetworkChange& change) {
  const std::vector<Ipv4Net> routes = routes_of(change);
  bool ok = true;
  for (const Ipv4Net& old : routes_of(applied_)) {
    // Ignoring failure: the kernel may have removed it with its address.
    if (!contains(routes, old)) ip({"route", "del", old.to_string()});
  }
  for (const Ipv4Net& old : or_empty(applied_.ips)) {
    if (!contains(or_empty(change.ips), old)) ok &= ip({"addr", "del", old.to_string()});
  }
  for (const Ipv4Net& net : or_empty(change.ips)) ok &= ip({"addr", "replace", net.to_string()});
  for (const Ipv4Net& route : routes) ok &= ip({"route", "replace", route.to_string()});
  ok &= write_dns_file(change);
  applied_ = change;

  const std::string dns = change.dns_server ? change.dns_server->to_string() : "";
  if (ok) {
    fmt::print("applied ips={} routes={} dns={}\n", render(change.ips), render(change.routes), dns);
  } else {
    fmt::print(stderr, "could not apply ips={} routes={} dns={}\n", render(change.ips), render(change.routes), dns);
  }
  std::fflush(stdout);
}

bool InterfaceSettings::write_dns_file(const agent::NetworkChange& change) const {
  std::error_code error;
  if (!change.dns_server) {
    std::filesystem::remove(dns_file_, error);
    return !error;
  }
  // Written beside and renamed, so that a reader never sees half an address.
  const std::filesystem::path partial = dns_file_.string() + ".partial";
  {
    std::ofstream out(partial);
    out << change.dns_server->to_string() << '\n';
    if (!out.flush()) return false;
  }
  std::filesystem::rename(partial, dns_file_, error);
  return !error;
}

}  // namespace valdori::e2e
