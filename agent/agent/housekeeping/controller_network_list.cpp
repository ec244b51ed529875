#include "agent/agent/housekeeping/controller_network_list.hpp"

#include <boost/uuid/uuid_io.hpp>

#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/controller/client.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;

// Kept only in a configuration that has a controller section; without one it stays as loaded.
asio::awaitable<void> record_connection_status(const std::shared_ptr<AgentInner>& inner,
                                               const ControllerConnectionStatus& status) {
  auto guard = co_await inner->state_lock.write();
  if (auto& controller = inner->state.config.controller) controller->connection_status = status;
}

}  // namespace

boost::system::result<ControllerNetworks, error::Error> list_controller_networks(
    network::config::MultiNetworkConfig document) {
  using Failure = error::Error;
  ControllerNetworks listed;
  for (auto& entry : document.network) {
    if (!entry.id) {
      VLOG_TRACE(housekeeping_logger(), "Network config missing id");
      return Failure(error::Kind::ConfigParse, "Network config missing id");
    }
    auto url = util::Url::parse("controller://" + boost::uuids::to_string(*entry.id));
    if (!url) {
      VLOG_TRACE(housekeeping_logger(), "Failed to parse network URL: {}", url.error().message);
      return Failure(error::Kind::ConfigParse, "Failed to parse network URL: " + url.error().message);
    }
    VLOG_TRACE(housekeeping_logger(), "Network: {} (subnet: {}) -> {}",
               util::text::debug_optional(entry.name, [](const std::string& t) { return util::text::debug_string(t); }),
               entry.network, *url);
    listed.insert_or_assign(std::move(*url), std::move(entry));
  }
  VLOG_TRACE(housekeeping_logger(), "Successfully processed {} controller networks", listed.size());
  return listed;
}

asio::awaitable<boost::system::result<ControllerNetworks, error::Error>> get_controller_networks(
    std::shared_ptr<AgentInner> inner, std::string secret) {
  using Failure = error::Error;
  VLOG_TRACE(housekeeping_logger(), "Starting to fetch controller networks");
  // The file, not the running state: the host may have pointed it at another controller. Its
  // unknown keys were named when the host loaded it.
  auto loaded = AgentConfig::load(inner->config_path, AgentConfig::UnknownKeys::Quiet);
  if (!loaded) {
    VLOG_TRACE(housekeeping_logger(), "Failed to load agent config from: {}: {}",
               util::text::debug_string(inner->config_path.string()), loaded.error());
    co_return Failure(error::Kind::ConfigParse, "Failed to load agent config: " + loaded.error().to_string());
  }
  const std::string base_url =
      loaded->controller ? loaded->controller->url_or_default() : ControllerConfig{}.url_or_default();
  VLOG_TRACE(housekeeping_logger(), "Found shared_secret, controller URL: {}",
             util::text::escape_controls(util::mask_url(base_url)));
  VLOG_TRACE(housekeeping_logger(), "Creating controller client with HMAC authentication");
  const controller::ControllerClient client(inner->http, base_url, controller::Hmac{std::move(secret)},
                                            inner->identity.pk(), inner->limits.controller_request);
  VLOG_TRACE(housekeeping_logger(), "Controller client created, requesting networks config");
  auto document = co_await client.get_networks_config_toml();
  // Unlike an empty list, a failed request says nothing about which networks the node is in.
  if (!document) {
    VLOG_TRACE(housekeeping_logger(), "Failed to get networks config TOML: {}", document.error());
    co_return Failure(error::Kind::HttpClient, document.error().summary());
  }
  VLOG_TRACE(housekeeping_logger(), "get_networks_config_toml response: {} networks", document->network.size());
  auto listed = list_controller_networks(std::move(*document));
  if (listed) {
    VLOG_TRACE(housekeeping_logger(), "Finished fetching controller networks: {} networks found", listed->size());
  }
  co_return listed;
}

asio::awaitable<std::optional<std::string>> copy_shared_secret(std::shared_ptr<AgentInner> inner) {
  auto guard = co_await inner->state_lock.read();
  std::optional<std::string> secret;
  if (const auto& controller = inner->state.config.controller) secret = controller->shared_secret;
  co_return secret;
}

asio::awaitable<std::optional<ControllerNetworks>> controller_network_list(std::shared_ptr<AgentInner> inner,
                                                                           std::optional<std::string> secret) {
  std::optional<ControllerNetworks> listed;
  if (!secret) {
    // Named: GCC 12 destroys temporaries of a co_await expression twice.
    const ControllerConnectionStatus logged_out{ControllerConnectionStatus::LoggedOut{}};
    co_await record_connection_status(inner, logged_out);
    listed.emplace();
    co_return listed;
  }
  auto fetched = co_await get_controller_networks(inner, std::move(*secret));
  if (!fetched) {
    VLOG_TRACE(housekeeping_logger(), "Failed to get controller networks: {}, continuing with empty list",
               fetched.error());
    const ControllerConnectionStatus fetch_failed{ControllerConnectionStatus::Err{fetched.error().to_string()}};
    co_await record_connection_status(inner, fetch_failed);
    co_return listed;
  }
  const ControllerConnectionStatus outcome{
      fetched->empty()
          ? ControllerConnectionStatus{ControllerConnectionStatus::Err{"Failed to fetch networks from controller"}}
          : ControllerConnectionStatus{ControllerConnectionStatus::Ok{}}};
  co_await record_connection_status(inner, outcome);
  listed = std::move(*fetched);
  co_return listed;
}

}  // namespace valdori::agent::housekeeping
