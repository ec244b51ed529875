// Fetching a network document named by an "http" or "https" URL.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "agent/agent/error.hpp"
#include "agent/http/http_client.hpp"
#include "overlay_node/node/span_log.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::housekeeping {

// At most this many requests per fetch: the first and four redirects.
inline constexpr unsigned kMaxRequests = 5;

// "Basic " and the base64 of "user:password", both percent-decoded (the URL holds "p%40ss" for
// the password "p@ss"); nothing unless the URL has both a user name and a non-empty password. A
// user name that decodes to one with a ":" cannot be told from its password: an HTTP error.
boost::system::result<std::optional<std::string>, error::Error> basic_authorization(const util::Url& url);

// Where a redirect's Location leads from `current`: the Location resolved against it as a URL
// reference ("/a%2fc" keeps its "%2f"; "http:n.toml" is a path beside the current one).
boost::system::result<util::Url, error::Error> follow_location(const util::Url& current, std::string_view location);

// GETs `url` with the node's key in "valdori-pk" and the URL's credentials as Basic
// authorization, follows up to four redirects, and gives the body of the 2xx reply as text.
// Credentials never reach the log or an error text.
boost::asio::awaitable<boost::system::result<std::string, error::Error>> fetch_with_redirects(
    http::HttpClient& client, const p2p::PubKey& me, std::string_view url, const valdori::node::SpanLog& span);

}  // namespace valdori::agent::housekeeping
