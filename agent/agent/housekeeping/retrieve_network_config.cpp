#include "agent/agent/housekeeping/retrieve_network_config.hpp"

#include <filesystem>
#include <string>

#include "agent/agent/housekeeping/fetch_with_redirects.hpp"
#include "agent/agent/read_text_file.hpp"
#include "util/url/basic_url_parser.hpp"
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

Retrieved checked(boost::system::result<std::string, error::Error> text) {
  if (!text) return text.error();
  auto document = NetworkConfig::try_from(*text);
  if (!document) return error::Error::network(document.error());
  return std::move(*document);
}

}  // namespace

asio::awaitable<Retrieved> retrieve_network_config(const AgentInner& inner, std::string_view config_url,
                                                   const ControllerNetworks& cached,
                                                   const valdori::node::SpanLog& span) {
  span.log(Level::trace, "Retrieving network config from: {}", util::mask_url(config_url));
  // The source is chosen by the text as a URL reads it: " file:///n.toml\n" is a file URL.
  const std::string text = util::url::remove_ignored_code_points(config_url);
  if (text.starts_with(kControllerPrefix)) co_return from_cache(config_url, cached, span);
  if (text.starts_with(kHttpPrefix) || text.starts_with(kHttpsPrefix)) {
    co_return checked(co_await fetch_with_redirects(*inner.http, inner.identity.pk(), config_url, span));
  }
  if (text.starts_with(kFilePrefix)) {
    const std::string_view path = std::string_view(text).substr(kFilePrefix.size());
    span.log(Level::trace, "Reading file: {}", path);
    co_return checked(read_text_file(std::filesystem::path(path)));
  }
  co_return error::Error(error::Kind::ConfigParse, "Unsupported URL scheme: " + util::mask_url(config_url));
}

}  // namespace valdori::agent::housekeeping
