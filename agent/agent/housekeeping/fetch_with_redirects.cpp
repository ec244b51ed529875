#include "agent/agent/housekeeping/fetch_with_redirects.hpp"

#include "p2p_core/crypto/base64.hpp"
#include "util/text/utf8.hpp"
#include "util/url/mask_url.hpp"
#include "util/url/percent_encode.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;
using error::Error;
using error::Kind;
using log::Level;
using Fetched = boost::system::result<std::string, Error>;

// Tabs and visible ASCII only; anything else is no Location to follow.
bool usable_location(std::string_view value) {
  return std::ranges::all_of(value, [](char c) { return c == '\t' || (c >= 0x20 && c <= 0x7e); });
}

}  // namespace

boost::system::result<std::optional<std::string>, Error> basic_authorization(const util::Url& url) {
  if (url.username().empty() || url.password().empty()) return std::nullopt;
  const std::string user = util::url::percent_decode(url.username());
  // The server splits at the first ":": "a:b" with "pw" would arrive as "a" with "b:pw".
  if (user.find(':') != std::string::npos) {
    return Error(Kind::Http, "the user name in " + util::mask_url(url) +
                                 " holds a \":\", which HTTP Basic authentication cannot carry");
  }
  const std::string credentials = user + ":" + util::url::percent_decode(url.password());
  return "Basic " +
         p2p::crypto::base64_encode({reinterpret_cast<const std::uint8_t*>(credentials.data()), credentials.size()});
}

boost::system::result<util::Url, Error> follow_location(const util::Url& current, std::string_view location) {
  auto resolved = util::Url::parse(location, current);
  if (!resolved) return Error(Kind::UrlParse, "invalid Location: " + resolved.error().message);
  return std::move(*resolved);
}

asio::awaitable<Fetched> fetch_with_redirects(http::HttpClient& client, const p2p::PubKey& me, std::string_view url,
                                              const valdori::node::SpanLog& span) {
  auto parsed = util::Url::parse(url);
  if (!parsed) co_return Error(Kind::UrlParse, parsed.error().message);
  util::Url current = std::move(*parsed);
  unsigned redirects = 0;
  for (;;) {
    span.log(Level::trace, "Parsed URL: {}", util::mask_url(current));

    http::Request request{"GET", {{"Connection", "close"}, {"valdori-pk", me.to_string()}}, {}};
    auto authorization = basic_authorization(current);
    if (!authorization) co_return authorization.error();
    if (*authorization) {
      span.log(Level::trace, "Adding basic auth header: {}", current.username());
      request.headers.emplace_back("Authorization", std::move(**authorization));
    }
    span.log(Level::trace, "Building request");
    span.log(Level::trace, "Sending request");
    auto response = co_await client.send(current, std::move(request));
    if (!response) co_return Error(Kind::HttpClient, response.error().message);
    span.log(Level::trace, "Received response");

    const unsigned status = (*response)->status();
    const auto location = (*response)->header("Location");
    if (status >= 300 && status <= 399 && location && usable_location(*location)) {
      ++redirects;
      // Named as the URL it leads to, which is the one requested next.
      auto next = follow_location(current, *location);
      span.log(Level::trace, "Following redirect {}: {} -> {}", redirects, util::mask_url(current),
               next ? util::mask_url(*next) : std::string("a Location that does not resolve"));
      // A relative Location fails before the redirect limit; an absolute one only as the URL of
      // the request that the limit would have made.
      const bool absolute = location->starts_with("http://") || location->starts_with("https://");
      if (!next && !absolute) co_return next.error();
      if (redirects >= kMaxRequests) {
        co_return Error(Kind::ConfigParse,
                        fmt::format("Too many redirects (max {}): {}", kMaxRequests, util::mask_url(url)));
      }
      if (!next) co_return next.error();
      current = std::move(*next);
      continue;
    }
    if (status < 200 || status > 299) {
      co_return Error(Kind::ConfigParse, "HTTP request failed with status '" + http::status_text(status) + "'");
    }
    auto body = co_await (*response)->read_body();
    if (!body) co_return Error(Kind::Hyper, body.error().message);
    span.log(Level::trace, "Received body");
    if (!util::text::is_valid_utf8(*body)) co_return Error(Kind::Utf8, "invalid UTF-8 sequence in the body");
    co_return std::move(*body);
  }
}

}  // namespace valdori::agent::housekeeping
