// Obtaining one network's configuration document from where its URL points.
#pragma once

#include <string_view>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "agent/agent/error.hpp"
#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/network/config/network_config.hpp"
#include "overlay_node/node/span_log.hpp"

namespace valdori::agent::housekeeping {

// The source is chosen by the scheme of `config_url` as a URL parses ("HTTP://h/" is "http"):
// - "controller": the document of that network in `cached` (the pass's controller list);
// - "http", "https": fetched with the agent's HTTP client, redirects followed, checked as a
//   document;
// - "file": the path as written after "file:" and "//" (only what surrounds the URL is
//   stripped), relative to the working folder unless it starts with "/"; a regular UTF-8 file
//   of bounded size, checked as a document;
// - anything else: "Unsupported URL scheme: " and the text; a text that is no URL: its parse error.
// Credentials in a URL are masked in log lines and error texts.
boost::asio::awaitable<boost::system::result<network::config::NetworkConfig, error::Error>> retrieve_network_config(
    const AgentInner& inner, std::string_view config_url, const ControllerNetworks& cached,
    const valdori::node::SpanLog& span);

}  // namespace valdori::agent::housekeeping
