// The agent configuration as a TOML document. Keys, in the order they are written:
//   network = []            only when there are no networks
//   mtu, super_peers, update_check, auto_connect      each only when set
//   [identity]   sk, pow
//   [[network]]  config_url, disabled, name (only when set); sorted by config_url, byte by byte
//   [dns]        disabled (only when set)
//   [controller] url, auth_url, display_login_email, shared_secret (each only when set)
// Reading ignores keys it does not know, at every level; unknown_keys names them.
#pragma once

#include <string>
#include <vector>

#include <toml++/toml.h>
#include <boost/system/result.hpp>

#include "agent/agent/config.hpp"
#include "agent/toml/document.hpp"
#include "agent/toml/writer.hpp"

namespace valdori::agent {

toml_doc::ReadResult<AgentConfig> read_agent_config(const ::toml::table& document);

// The value of the `network` key: an array of network tables, keyed by the parse of each
// `config_url`. A URL that does not parse, or parses like an earlier one, is an error.
toml_doc::ReadResult<NetworkMap> deserialize_networks(const ::toml::node& value);

// A key of the document that read_agent_config does not read, so that a rewrite drops it.
struct UnknownKey {
  std::string name;                  // as the file has it
  std::string table;                 // "[identity]", "[[network]]", "[dns]", "[controller]"; empty at the top level
  ::toml::source_position position;  // where the key is written
};

// The unknown keys of the document, at the top level and in the tables read from it, in the order
// of the file. The tables' own keys are not looked into when their values are not tables.
std::vector<UnknownKey> unknown_keys(const ::toml::table& document);

boost::system::result<std::string, toml_doc::WriteError> write_agent_config(const AgentConfig& config);

}  // namespace valdori::agent
