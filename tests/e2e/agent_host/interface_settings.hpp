// What the host does with the agent's network changes: it applies them to its TUN interface
// inside the interface's namespace and tells DNS clients where the agent's responder is.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "agent/agent/network_listener/network_change.hpp"

namespace valdori::e2e {

class InterfaceSettings {
 public:
  // `dns_file` receives the responder's address, one line, when there is one.
  InterfaceSettings(std::string netns, std::string interface, std::filesystem::path dns_file);

  // Brings the interface in line with `change`: addresses and routes of the previous change
  // that are gone are removed, the new ones added (with a route to each overlay network), and
  // the DNS file rewritten or removed. Prints "applied ips=... routes=... dns=..." on stdout
  // when every step succeeded. The agent delivers one change at a time.
  void apply(const agent::NetworkChange& change);

 private:
  bool ip(std::vector<std::string> args) const;
  bool write_dns_file(const agent::NetworkChange& change) const;

  std::string netns_;
  std::string interface_;
  std::filesystem::path dns_file_;
  agent::NetworkChange applied_;
};

}  // namespace valdori::e2e
