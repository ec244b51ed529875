#include "agent/agent/housekeeping/retrieve_network_config.hpp"

#include <filesystem>
#include <string>
#include <string_view>

#include "agent/agent/housekeeping/fetch_with_redirects.hpp"
#include "agent/agent/read_text_file.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/basic_url_parser.hpp"
#include "util/url/mask_url.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;
using network::config::NetworkConfig;
using Retrieved = boost::system::result<NetworkConfig, error::Error>;
using log::Level;

// The URL as written, which the parser's serialization is not: its credentials masked and its
// control characters escaped.
std::string shown_url(std::string_view config_url) { return util::text::escape_controls(util::mask_url(config_url)); }

Retrieved from_cache(const util::Url& url, std::string_view config_url, const ControllerNetworks& cached,
                     const valdori::node::SpanLog& span) {
  if (auto it = cached.find(url); it != cached.end()) {
    span.log(Level::trace, "Retrieved controller network config directly from cache");
    return it->second;
  }
  return error::Error(error::Kind::ConfigParse, "Controller network not found in cache: " + shown_url(config_url));
}

// The path of a file URL as written: the text after the scheme's ":" and the "//" that follows
// it, without what surrounds the URL. Nothing inside is dropped or decoded, so
// "file:///srv/a\tb.toml" names "/srv/a\tb.toml" and "file://n.toml" the relative "n.toml".
std::string_view file_path(std::string_view config_url) {
  std::string_view text = util::url::strip_c0_control_or_space(config_url);
  text.remove_prefix(text.find(':') + 1);
  if (text.starts_with("//")) text.remove_prefix(2);
  return text;
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
  span.log(Level::trace, "Retrieving network config from: {}", shown_url(config_url));
  // The source follows the URL as it parses, so every spelling of an http URL that the
  // configuration accepts ("HTTP://h/n.toml", "http:u:p@h/n.toml") is fetched as one.
  const auto url = util::Url::parse(config_url);
  if (!url) co_return error::Error(error::Kind::UrlParse, url.error().message);
  const std::string_view scheme = url->scheme();
  if (scheme == "controller") co_return from_cache(*url, config_url, cached, span);
  if (scheme == "http" || scheme == "https") {
    co_return checked(co_await fetch_with_redirects(*inner.http, inner.identity.pk(), config_url, span));
  }
  if (scheme == "file") {
    const std::string_view path = file_path(config_url);
    span.log(Level::trace, "Reading file: {}", util::text::escape_controls(path));
    co_return checked(read_text_file(std::filesystem::path(path)));
  }
  co_return error::Error(error::Kind::ConfigParse, "Unsupported URL scheme: " + shown_url(config_url));
}

}  // namespace valdori::agent::housekeeping
