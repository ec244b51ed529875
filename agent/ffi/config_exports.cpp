// The configuration file through the C interface: the configuration handle, and the network
// list edited and read in the file itself (every call loads the file and, after a change, saves
// it; nothing is kept between calls).
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "agent/ffi/handles.hpp"
#include "util/log/log.hpp"

namespace valdori::ffi {
namespace {

using agent::AgentConfig;
using agent::NetworkMap;

enum class Load : std::uint8_t { ExistingFile, OrGenerate };

// The steps the four edits share; `change` makes the edit on the found entry (or the map when
// there is none) and gives 0 when the file is to be saved, else the code to return.
template <class Change>
std::int32_t edit_network(const char* path, const char* network_url, Load load, bool log_steps, Change&& change) {
  if (path == nullptr || network_url == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  if (log_steps) VLOG_TRACE(lg(), "Extracting path string from pointer");
  const auto path_text = utf8_arg(path);
  if (!path_text) {
    if (log_steps) VLOG_TRACE(lg(), "Failed to convert path to string, returning ERR_UTF8");
    return VALDORI_AGENT_ERR_UTF8;
  }
  if (log_steps) VLOG_TRACE(lg(), "Extracting network URL string from pointer");
  const auto url_text = utf8_arg(network_url);
  if (!url_text) {
    if (log_steps) VLOG_TRACE(lg(), "Failed to convert network_url to string, returning ERR_UTF8");
    return VALDORI_AGENT_ERR_UTF8;
  }
  const std::filesystem::path file(*path_text);
  auto config = load == Load::ExistingFile ? AgentConfig::load(file) : AgentConfig::load_or_generate(file);
  if (!config) return VALDORI_AGENT_ERR_GENERIC;
  auto url = util::Url::parse(*url_text);
  if (!url) return VALDORI_AGENT_ERR_URL_PARSE;
  const auto found = config->networks.find(*url);
  const std::int32_t outcome = change(config->networks, found, *url, *url_text);
  if (outcome != VALDORI_AGENT_OK) return outcome;
  return config->save(file) ? VALDORI_AGENT_OK : VALDORI_AGENT_ERR_GENERIC;
}

// Enabling and disabling: refused for a network that is not there or already in that state. Only
// disabling traces its steps.
std::int32_t set_disabled(const char* path, const char* network_url, bool disabled) {
  return edit_network(path, network_url, Load::OrGenerate, disabled,
                      [disabled](auto& networks, auto found, const auto&, std::string_view) {
                        if (found == networks.end()) return VALDORI_AGENT_ERR_NETWORK_NOT_FOUND;
                        if (found->second.disabled == disabled) {
                          return disabled ? VALDORI_AGENT_ERR_NETWORK_ALREADY_DISABLED
                                          : VALDORI_AGENT_ERR_NETWORK_ALREADY_ENABLED;
                        }
                        found->second.disabled = disabled;
                        return VALDORI_AGENT_OK;
                      });
}

char* copy_c_string(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// A network array is one allocation: its record count, then the records the host sees.
struct ArrayHead {
  alignas(NetworkInfo) std::int32_t count;
};

ArrayHead* head_of(const NetworkInfo* networks) {
  return reinterpret_cast<ArrayHead*>(const_cast<char*>(reinterpret_cast<const char*>(networks)) - sizeof(ArrayHead));
}

// The record at `index`, or none outside the array.
const NetworkInfo* record_at(const NetworkInfo* networks, std::int32_t index) {
  if (networks == nullptr || index < 0 || index >= head_of(networks)->count) return nullptr;
  return networks + index;
}

void free_records(NetworkInfo* records, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (records[i].url != nullptr) {
      VLOG_TRACE(lg(), "Dropping NetworkInfo url and freeing CString");
      std::free(records[i].url);
    }
    if (records[i].name != nullptr) {
      VLOG_TRACE(lg(), "Dropping NetworkInfo name and freeing CString");
      std::free(records[i].name);
    }
  }
}

// The listed records of `networks`: a URL holding a NUL leaves its network out, a name holding
// one lists the network without its name.
NetworkInfo* make_array(const NetworkMap& networks, std::int32_t& count) {
  auto* head = static_cast<ArrayHead*>(std::malloc(sizeof(ArrayHead) + networks.size() * sizeof(NetworkInfo)));
  if (head == nullptr) throw std::bad_alloc();
  head->count = 0;
  auto* records = reinterpret_cast<NetworkInfo*>(head + 1);
  try {
    for (const auto& [url, network] : networks) {
      const std::string_view url_text = url.as_string();
      if (url_text.find('\0') != std::string_view::npos) continue;
      NetworkInfo& record = records[head->count];
      record = NetworkInfo{nullptr, network.disabled ? 1 : 0, nullptr};
      ++head->count;
      record.url = copy_c_string(url_text);
      if (network.name && network.name->find('\0') == std::string::npos) record.name = copy_c_string(*network.name);
    }
  } catch (...) {
    free_records(records, head->count);
    std::free(head);
    throw;
  }
  count = head->count;
  if (count == 0) {
    std::free(head);
    return nullptr;
  }
  return records;
}

}  // namespace
}  // namespace valdori::ffi

using valdori::ffi::edit_network;
using valdori::ffi::guarded;
using valdori::ffi::guarded_void;
using valdori::ffi::lg;
using valdori::ffi::Load;

extern "C" {

int32_t valdori_agent_config_load_or_generate(const char* path, AgentConfigPtr** out) {
  if (path == nullptr || out == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_config_load_or_generate", VALDORI_AGENT_ERR_GENERIC, [&] {
    const auto path_text = valdori::ffi::utf8_arg(path);
    if (!path_text) return VALDORI_AGENT_ERR_UTF8;
    auto config = valdori::agent::AgentConfig::load_or_generate(std::filesystem::path(*path_text));
    if (!config) {
      VLOG_WARN(lg(), "Error loading config: {}", config.error().to_string());
      return config.error().code();
    }
    auto handle = std::make_unique<AgentConfigPtr>(
        AgentConfigPtr{std::make_unique<valdori::agent::AgentConfig>(std::move(*config))});
    *out = handle.release();
    return VALDORI_AGENT_OK;
  });
}

int32_t valdori_agent_config_id_pk(const AgentConfigPtr* config, uint8_t out[32]) {
  if (config == nullptr || out == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  const auto& key = config->config->identity.pk().bytes();
  std::memcpy(out, key.data(), key.size());
  return VALDORI_AGENT_OK;
}

void valdori_agent_config_free(AgentConfigPtr* config) {
  if (config == nullptr) return;
  guarded_void("valdori_agent_config_free", [&] {
    VLOG_TRACE(lg(), "Freeing AgentConfigPtr");
    delete config;
  });
}

int32_t valdori_agent_config_network_add(const char* path, const char* network_url) {
  return guarded("valdori_agent_config_network_add", VALDORI_AGENT_ERR_GENERIC, [&] {
    return edit_network(path, network_url, Load::ExistingFile, false,
                        [](auto& networks, auto found, const auto& url, std::string_view text) {
                          if (found != networks.end()) return VALDORI_AGENT_ERR_NETWORK_EXISTS;
                          valdori::network::Network network;
                          network.config_url = std::string(text);
                          networks.emplace(url, std::move(network));
                          return VALDORI_AGENT_OK;
                        });
  });
}

int32_t valdori_agent_config_network_remove(const char* path, const char* network_url) {
  return guarded("valdori_agent_config_network_remove", VALDORI_AGENT_ERR_GENERIC, [&] {
    return edit_network(path, network_url, Load::ExistingFile, false,
                        [](auto& networks, auto found, const auto&, std::string_view) {
                          if (found == networks.end()) return VALDORI_AGENT_ERR_NETWORK_NOT_FOUND;
                          networks.erase(found);
                          return VALDORI_AGENT_OK;
                        });
  });
}

int32_t valdori_agent_config_network_enable(const char* path, const char* network_url) {
  return guarded("valdori_agent_config_network_enable", VALDORI_AGENT_ERR_GENERIC,
                 [&] { return valdori::ffi::set_disabled(path, network_url, false); });
}

int32_t valdori_agent_config_network_disable(const char* path, const char* network_url) {
  return guarded("valdori_agent_config_network_disable", VALDORI_AGENT_ERR_GENERIC,
                 [&] { return valdori::ffi::set_disabled(path, network_url, true); });
}

int32_t valdori_agent_config_networks(const char* path, NetworkInfo** out, int32_t* count) {
  if (path == nullptr || out == nullptr || count == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_config_networks", VALDORI_AGENT_ERR_GENERIC, [&] {
    const auto path_text = valdori::ffi::utf8_arg(path);
    if (!path_text) return VALDORI_AGENT_ERR_UTF8;
    auto config = valdori::agent::AgentConfig::load(std::filesystem::path(*path_text));
    if (!config) return VALDORI_AGENT_ERR_GENERIC;
    std::int32_t listed = 0;
    NetworkInfo* array = valdori::ffi::make_array(config->networks, listed);
    *out = array;
    *count = listed;
    return VALDORI_AGENT_OK;
  });
}

const char* valdori_agent_network_url(const NetworkInfo* networks, int32_t index) {
  const NetworkInfo* record = valdori::ffi::record_at(networks, index);
  return record != nullptr ? record->url : nullptr;
}

int32_t valdori_agent_network_disabled(const NetworkInfo* networks, int32_t index) {
  const NetworkInfo* record = valdori::ffi::record_at(networks, index);
  return record != nullptr ? record->disabled : -1;
}

const char* valdori_agent_network_name(const NetworkInfo* networks, int32_t index) {
  const NetworkInfo* record = valdori::ffi::record_at(networks, index);
  return record != nullptr ? record->name : nullptr;
}

void valdori_agent_config_networks_free(NetworkInfo* networks, int32_t count) {
  // A count below 1 frees nothing, so that a host that later frees with the stored count does not
  // free twice. Any other count defers to the array's own, so that a wrong one frees neither too
  // little nor memory that is not the array's.
  if (networks == nullptr || count < 1) return;
  guarded_void("valdori_agent_config_networks_free", [&] {
    valdori::ffi::ArrayHead* head = valdori::ffi::head_of(networks);
    valdori::ffi::free_records(networks, head->count);
    std::free(head);
  });
}

}  // extern "C"
