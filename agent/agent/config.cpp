#include "agent/agent/config.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include <fmt/format.h>

#include "agent/agent/config_document.hpp"
#include "agent/agent/read_text_file.hpp"
#include "agent/agent/warned_content.hpp"
#include "agent/toml/document.hpp"
#include "util/fs/read_file.hpp"
#include "util/fs/replace_file.hpp"
#include "util/log/log.hpp"
#include "util/system/env.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent {
namespace {

using boost::system::result;

spdlog::logger& logger() { return log::logger("valdori_agent::agent::config"); }

constexpr mode_t kNewFileMode = 0600;  // the file holds the secret key

result<AgentConfig, error::Error> generate(const std::filesystem::path& path, std::uint8_t difficulty) {
  VLOG_INFO(logger(), "Config file does not exist, generating new one (this might take some time due to the PoW)");
  auto identity = p2p::Identity::generate(difficulty);
  if (!identity) return error::Error::identity(identity.error());
  VLOG_TRACE(logger(), "Generated new identity with public key: {}", identity->pk());
  AgentConfig config(std::move(*identity));
  if (auto saved = config.save(path); !saved) return saved.error();
  return config;
}

}  // namespace

result<AgentConfig, error::Error> AgentConfig::load(const std::filesystem::path& path, UnknownKeys unknown_keys) {
  const std::string shown_path = util::text::escape_controls(path.string());
  VLOG_TRACE(logger(), "Loading agent config from {}", shown_path);
  auto text = read_text_file(path);
  if (!text) return text.error();
  VLOG_TRACE(logger(), "Successfully read config file");

  auto document = toml_doc::parse_document(*text);
  if (!document) return error::Error(error::Kind::Toml, toml_doc::render(document.error(), *text));
  auto config = read_agent_config(*document);
  if (!config) return error::Error(error::Kind::Toml, toml_doc::render(config.error(), *text));
  if (unknown_keys == UnknownKeys::Warn && warnings_are_new(path, *text)) {
    for (const UnknownKey& key : agent::unknown_keys(*document)) {
      VLOG_WARN(logger(), "Ignoring unknown key `{}` {} on line {} of {}: a rewrite of the file drops it",
                util::text::escape_controls(key.name), key.table.empty() ? "at the top level" : "in " + key.table,
                key.position.line, shown_path);
    }
  }
  VLOG_TRACE(logger(), "Successfully parsed config file");
  return std::move(*config);
}

result<AgentConfig, error::Error> AgentConfig::load_or_generate(const std::filesystem::path& path) {
  VLOG_TRACE(logger(), "Loading or generating agent config from {}", util::text::escape_controls(path.string()));
  const auto difficulty = util::system::get_env<std::uint8_t>("MIN_POW_DIFFICULTY", 24);
  VLOG_TRACE(logger(), "Using min PoW difficulty: {}", difficulty);

  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  // Only a missing file may be replaced by a new identity; anything else (no permission, a
  // broken disk) must neither cost the search nor lead to an overwritten file.
  if (!exists && errno != ENOENT) return error::Error::io(std::error_code(errno, std::system_category()));
  auto config = exists ? load(path) : generate(path, difficulty);
  if (!config) return config.error();
  VLOG_TRACE(logger(), "Config loaded successfully");
  return config;
}

result<void, error::Error> AgentConfig::save(const std::filesystem::path& path) const {
  VLOG_TRACE(logger(), "Saving agent config to {}", util::text::escape_controls(path.string()));
  auto text = write_agent_config(*this);
  if (!text) return error::Error(error::Kind::TomlSerialization, text.error().message);
  VLOG_TRACE(logger(), "Successfully serialized config");
  // Written, it would be read back by none: neither the host's next load nor the agent's.
  if (text->size() > util::fs::kMaxDocumentBytes) {
    return error::Error(error::Kind::TomlSerialization,
                        fmt::format("the configuration takes {} bytes, more than the {} it is read back with",
                                    text->size(), util::fs::kMaxDocumentBytes));
  }
  if (const std::error_code failed = util::fs::replace_file(path, *text, kNewFileMode)) {
    return error::Error::io(failed);
  }
  VLOG_TRACE(logger(), "Successfully wrote config file");
  return {};
}

std::uint16_t AgentConfig::default_mtu() { return util::system::get_env<bool>("ARM_MESSAGES", true) ? 1073 : 1121; }

}  // namespace valdori::agent
