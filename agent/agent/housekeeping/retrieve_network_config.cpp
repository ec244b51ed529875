#include "agent/agent/housekeeping/retrieve_network_config.hpp"

#include <filesystem>
#include <string>

#include "agent/agent/read_text_file.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;
using network::config::NetworkConfig;
using Retrieved = boost::system::result<NetworkConfig, error::Error>;
using log::Level;

constexpr std::string_view kControllerPrefix = "controller://";
constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpsPrefix = "https://";
constexpr std::string_view kFilePrefix = "file://";

Retrieved from_cache(std::string_view config_url, const ControllerNetworks& cached,
                     const valdori::node::SpanLog& span) {
  if (auto url = util::Url::parse(config_url)) {
    if (auto it = cached.find(*url); it != cached.end()) {
      span.log(Level::trace, "Retrieved controller network config directly from cache");
      return it->second;
    }
  }
  return error::Error(error::Kind::ConfigParse, "Controller network not found in cache: " + util::mask_url(config_url));
}

Retrieved from_file(std::string_view path, const valdori::node::SpanLog& span) {
  span.log(Level::trace, "Reading file: {}", path);
  auto text = read_text_file(std::filesystem::path(path));
  if (!text) return text.error();
  auto document = NetworkConfig::try_from(*text);
  if (!document) return error::Error::network(document.error());
  return std::move(*document);
}

Retrieved from_source(std::string_view config_url, const ControllerNetworks& cached,
                      const valdori::node::SpanLog& span) {
  if (config_url.starts_with(kControllerPrefix)) return from_cache(config_url, cached, span);
  if (config_url.starts_with(kHttpPrefix) || config_url.starts_with(kHttpsPrefix)) {
    return error::Error(error::Kind::HttpClient, "retrieval over HTTP is not available in this build");
  }
  if (config_url.starts_with(kFilePrefix)) return from_file(config_url.substr(kFilePrefix.size()), span);
  return error::Error(error::Kind::ConfigParse, "Unsupported URL scheme: " + util::mask_url(config_url));
}

}  // namespace

asio::awaitable<Retrieved> retrieve_network_config(std::string_view config_url, const ControllerNetworks& cached,
                                                   const valdori::node::SpanLog& span) {
  span.log(Level::trace, "Retrieving network config from: {}", util::mask_url(config_url));
  Retrieved retrieved = from_source(config_url, cached, span);
  co_return retrieved;
}

}  // namespace valdori::agent::housekeeping
