#include "agent/agent/housekeeping/housekeeping_network.hpp"

#include <optional>
#include <string>

#include <fmt/format.h>

#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/agent/housekeeping/network_name_limit.hpp"
#include "agent/agent/housekeeping/retrieve_network_config.hpp"
#include "agent/network/config/derived_lists.hpp"
#include "util/runtime/race.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;
using log::Level;
using network::AgentState;
using network::Network;
using network::NetworkHealth;
using network::config::NetworkConfig;
using valdori::node::SpanLog;

// What a retrieval did to the network, besides its desired state.
struct Outcome {
  std::optional<NetworkHealth> health;  // absent for a member: decided by what the application achieved
  bool renamed = false;
};

// None, or Some("name") with quotes and backslashes escaped.
std::string debug_name(const std::optional<std::string>& name) {
  return util::text::debug_optional(name, [](const std::string& text) { return util::text::debug_string(text); });
}

// Everything this node needs of a network it is a member of.
boost::system::result<AgentState, error::Error> member_state(const AgentInner& inner, const NetworkConfig& document,
                                                             const network::config::NetworkNode& me) {
  auto access_rules = network::config::effective_access_rule_list(document, me.pk);
  if (!access_rules) return error::Error::network(access_rules.error());
  auto routes = network::config::effective_routing_list(document, me.pk);
  if (!routes) return error::Error::network(routes.error());
  AgentState desired;
  desired.access_rules.applied = std::move(*access_rules);
  desired.routes.applied = std::move(*routes);
  if (inner.dns) desired.hostnames.applied = network::config::hostnames(document, me.pk);
  desired.forwardings.applied = network::config::effective_forwarding_list(document, me.pk);
  desired.ip.applied = util::net::Ipv4Net(me.ip, document.network.prefix_len());
  return desired;
}

// A disabled network is taken down whether or not its document arrived: nothing of it may stay
// applied while its health says Disabled.
NetworkHealth disabled_without_document(Network& entry, const char* note, const SpanLog& span) {
  span.log(Level::trace, "{}", note);
  entry.desired_state = {};
  return {NetworkHealth::Disabled{}};
}

// A failed retrieval keeps the desired state of an enabled network as it was.
NetworkHealth after_failed_retrieval(Network& entry, const error::Error& failure, const SpanLog& span) {
  span.log(Level::warn, "Failed to retrieve network config: {}", failure);
  if (entry.disabled) return disabled_without_document(entry, "Ignoring config error for disabled network", span);
  return {NetworkHealth::RetrieveConfigError{failure.to_string()}};
}

NetworkHealth after_timeout(Network& entry, std::chrono::milliseconds limit, const SpanLog& span) {
  const std::string timeout =
      fmt::format("Timeout of {} ms exceeded while attempting to retrieve network config", limit.count());
  span.log(Level::warn, "{}", timeout);
  if (entry.disabled) return disabled_without_document(entry, "Ignoring config timeout for disabled network", span);
  return {NetworkHealth::RetrieveConfigError{timeout}};
}

// Takes the document's name and makes the document the desired state: empty for a disabled
// network or one this node is not a member of. A name too long for the configuration file fails
// the retrieval.
Outcome adopt_document(const AgentInner& inner, Network& entry, const NetworkConfig& document, const SpanLog& span) {
  span.log(Level::trace, "Network config retrieved successfully");
  Outcome outcome;
  // Refused like a document that fails its checks: the configuration file could not keep it.
  if (const auto refused = overlong_name(document)) {
    outcome.health = after_failed_retrieval(entry, *refused, span);
    return outcome;
  }
  if (entry.name != document.name) {
    span.log(Level::trace, "Network name changed from '{}' to '{}'", debug_name(entry.name), debug_name(document.name));
    outcome.renamed = true;
  }
  entry.name = document.name;

  if (entry.disabled) {
    span.log(Level::trace, "Network is disabled. We need to teardown everything.");
    entry.desired_state = {};
    outcome.health = {NetworkHealth::Disabled{}};
    return outcome;
  }
  const auto me = document.node.find(inner.identity.pk());
  if (me == document.node.end()) {
    span.log(Level::trace, "I'm not member of this network.");
    entry.desired_state = {};
    outcome.health = {NetworkHealth::NotAMemberError{}};
    return outcome;
  }
  auto desired = member_state(inner, document, me->second);
  if (!desired) {
    outcome.health = after_failed_retrieval(entry, desired.error(), span);
    return outcome;
  }
  entry.desired_state = std::move(*desired);
  return outcome;
}

NetworkHealth applied_health(const Network& entry) {
  if (entry.current_state == entry.desired_state) return {NetworkHealth::Ok{}};
  return {NetworkHealth::Pending{}};
}

using Retrieved = util::RaceResult<boost::system::result<NetworkConfig, error::Error>>;

// Everything after the retrieval, none of which suspends: takes its outcome, applies the desired
// state, records the health and saves the configuration when the name changed.
void settle(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks, const util::Url& url, Network& entry,
            const Retrieved& retrieved, const SpanLog& span) {
  Outcome outcome;
  if (!retrieved) {
    outcome.health = after_timeout(entry, inner->limits.retrieve, span);
  } else if (!*retrieved) {
    outcome.health = after_failed_retrieval(entry, retrieved->error(), span);
  } else {
    outcome = adopt_document(*inner, entry, **retrieved, span);
  }

  AgentInner::apply_desired_state(inner, networks, url);
  const auto applied = networks.find(url);
  if (applied != networks.end()) {
    applied->second.health = outcome.health ? *outcome.health : applied_health(applied->second);
  }
  if (!outcome.renamed) return;
  if (auto saved = inner->state.save_config(inner->config_path); !saved) {
    span.log(Level::warn, "Failed to save config after housekeeping: {}", saved.error());
  }
}

}  // namespace

asio::awaitable<void> housekeeping_network(std::shared_ptr<AgentInner> inner, util::Url url,
                                           std::shared_ptr<const ControllerNetworks> cached) {
  const SpanLog span(housekeeping_logger(), "housekeeping_network", "network", util::mask_url(url));
  auto guard = co_await inner->state_lock.write();
  // Shutdown has emptied every network; what a late pass finds must not be applied again.
  if (inner->token.is_cancelled()) co_return;
  NetworkMap& networks = inner->state.config.networks;
  const auto joined = networks.find(url);
  if (joined == networks.end()) co_return;

  const std::string config_url = joined->second.config_url;
  auto retrieval =
      util::with_timeout(retrieve_network_config(*inner, config_url, *cached, span), inner->limits.retrieve);
  const Retrieved retrieved = co_await std::move(retrieval);
  // The rest does not suspend: the lines of other loggers in it (applying the state, saving the
  // configuration) are written within the span.
  span.within([&] { settle(inner, networks, url, joined->second, retrieved, span); });
}

}  // namespace valdori::agent::housekeeping
