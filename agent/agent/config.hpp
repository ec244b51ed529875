// The agent configuration file in memory: the node's identity, the joined networks and a few
// optional settings. The file is TOML; see config_document.hpp for its keys.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <vector>

#include <boost/system/result.hpp>

#include "agent/agent/controller_config.hpp"
#include "agent/agent/error.hpp"
#include "agent/network/network.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "util/url/url.hpp"

namespace valdori::agent {

struct DnsConfig {
  std::optional<bool> disabled;  // only true switches the DNS responder off

  bool operator==(const DnsConfig&) const = default;
};

// Each key is the parse of its network's `config_url`; no two networks share one.
using NetworkMap = std::unordered_map<util::Url, network::Network>;

struct AgentConfig {
  p2p::Identity identity;
  NetworkMap networks;
  std::optional<std::uint16_t> mtu;                           // absent: default_mtu()
  std::optional<std::vector<p2p::SuperPeerUrl>> super_peers;  // absent: the built-in list
  std::optional<bool> update_check;
  std::optional<bool> auto_connect;  // kept for the host; the agent does not act on it
  std::optional<DnsConfig> dns;
  std::optional<ControllerConfig> controller;

  // No networks and no options set.
  explicit AgentConfig(p2p::Identity id) : identity(id) {}

  // Names the file's unknown keys at WARN (they are lost when the file is rewritten), once for each
  // content of the file: loaded again unchanged, it names none. A periodic re-read (`Quiet`) names
  // none and leaves the content to be named by the next load that warns.
  enum class UnknownKeys : std::uint8_t { Warn, Quiet };
  static boost::system::result<AgentConfig, error::Error> load(const std::filesystem::path& path,
                                                               UnknownKeys unknown_keys = UnknownKeys::Warn);
  // Loads the file, or when there is none, generates a new identity and writes a new file.
  static boost::system::result<AgentConfig, error::Error> load_or_generate(const std::filesystem::path& path);
  // Replaces the file as a whole; a new file is readable by its owner only. A configuration too
  // large for a load to read back is not written.
  boost::system::result<void, error::Error> save(const std::filesystem::path& path) const;

  // A deep copy, runtime state of the networks and the connection status included.
  AgentConfig clone() const { return *this; }

  // 1073 when messages are armed (VALDORI_ARM_MESSAGES, default true), else 1121.
  static std::uint16_t default_mtu();
};

}  // namespace valdori::agent
