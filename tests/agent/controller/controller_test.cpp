// The controller client's pure parts: request signature, error texts, reply decoding, redirect
// resolution, Basic credentials and the metrics document.
#include <gtest/gtest.h>

#include "agent/agent/housekeeping/fetch_with_redirects.hpp"
#include "agent/agent/housekeeping/send_metrics.hpp"
#include "agent/controller/client.hpp"
#include "agent/controller/models.hpp"

namespace valdori::controller {
namespace {

using agent::housekeeping::basic_authorization;
using agent::housekeeping::follow_location;

TEST(ControllerSignature, SignsTimeAndBodyDigestOnly) {
  const std::string secret = "c2VjcmV0LWtleQ";
  EXPECT_EQ(ControllerClient::build_hmac_auth_header(secret, 1700000000, "").value(),
            "HMAC-Auth 1700000000:28bcaac263c5b05a9f3768af6af85063f9e33d4bf90ac156e17fcee512d6277b");
  const auto body = ControllerClient::build_hmac_auth_header(secret, 1700000000, R"({"os":"a"})").value();
  EXPECT_NE(body, ControllerClient::build_hmac_auth_header(secret, 1700000000, R"({"os":"b"})").value());
  EXPECT_EQ(ControllerClient::build_hmac_auth_header(secret, -5, "").value().substr(0, 13), "HMAC-Auth -5:");

  for (const std::string bad : {"c2VjcmV0LWtleQ==", "c2VjcmV0+2tleQ", "not base64!"}) {
    const auto refused = ControllerClient::build_hmac_auth_header(bad, 1, "");
    ASSERT_FALSE(refused) << bad;
    EXPECT_EQ(refused.error().kind(), error::Kind::Authentication);
    EXPECT_TRUE(refused.error().to_string().starts_with("Authentication failed: ")) << refused.error().to_string();
    EXPECT_EQ(refused.error().to_string().find(bad), std::string::npos);
  }
}

TEST(ControllerError, StatusTexts) {
  const std::pair<unsigned, const char*> cases[] = {
      {302, "Server returned error status 302 Found"},
      {404, "Not found (404)"},
      {418, "Server returned error status 418 I'm a teapot"},
      {500, "Internal server error (500)"},
  };
  for (const auto& [status, text] : cases) EXPECT_EQ(error::Error::from_status(status).to_string(), text);
}

// The display repeats a step that the message names too; the summary names it once.
TEST(ControllerError, SummaryNamesTheStepOnce) {
  struct Case {
    error::Error error;
    std::string display;
    std::string summary;
  };
  const Case cases[] = {
      {{error::Kind::RequestFailed, "HTTP request failed: connect to 127.0.0.1:9: Connection refused"},
       "HTTP request failed: HTTP request failed: connect to 127.0.0.1:9: Connection refused",
       "HTTP request failed: connect to 127.0.0.1:9: Connection refused"},
      {{error::Kind::UriParse, "Failed to parse URI: relative URL without a base"},
       "Failed to parse URI: Failed to parse URI: relative URL without a base",
       "Failed to parse URI: relative URL without a base"},
      {{error::Kind::BodyRead, "Failed to collect response body: end of stream"},
       "Failed to read response body: Failed to collect response body: end of stream",
       "Failed to read response body: Failed to collect response body: end of stream"},
      {{error::Kind::RequestBuild, "upload_metrics requires HMAC authentication"},
       "Failed to build HTTP request: upload_metrics requires HMAC authentication",
       "Failed to build HTTP request: upload_metrics requires HMAC authentication"},
      {error::Error::from_status(418), "Server returned error status 418 I'm a teapot",
       "Server returned error status 418 I'm a teapot"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.to_string(), c.display);
    EXPECT_EQ(c.error.summary(), c.summary);
  }
}

TEST(ControllerReply, DocumentOrNestedParseError) {
  const auto listed = decode_toml_reply(
      "[[network]]\nid = \"0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a44\"\nnetwork = \"10.1.0.0/24\"\n[[network]]\n"
      "network = \"10.2.0.0/24\"\nname = \"b\"\n");
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->network.size(), 2u);
  EXPECT_TRUE(listed->network[0].id && !listed->network[1].id);

  const auto broken = decode_toml_reply("network = [");
  ASSERT_FALSE(broken);
  EXPECT_TRUE(
      broken.error().to_string().starts_with("Failed to parse response body as JSON: Failed to parse TOML response: "))
      << broken.error().to_string();
}

TEST(Redirect, LocationResolvedAgainstTheCurrentUrl) {
  const util::Url current = *util::Url::parse("http://u:p@example.test:8080/a/b/doc.toml?x=1#f");
  const std::pair<const char*, const char*> cases[] = {
      {"next.toml", "http://u:p@example.test:8080/a/b/next.toml"},
      {"/root.toml", "http://u:p@example.test:8080/root.toml"},
      {"", "http://u:p@example.test:8080/a/b/doc.toml?x=1"},
      {"HTTPS://Other.Test:443/x", "https://other.test/x"},
      {"https://other.test:443/y", "https://other.test/y"},
      {"../up.toml", "http://u:p@example.test:8080/a/up.toml"},
      {"/a%2fc", "http://u:p@example.test:8080/a%2fc"},  // an escaped "/" is no separator
      {":x.toml", "http://u:p@example.test:8080/a/b/:x.toml"},
      {"http:next.toml", "http://u:p@example.test:8080/a/b/next.toml"},
      // The same scheme without "//": a path, whatever it looks like.
      {"http:a%3Ab:pw@h/n.toml", "http://u:p@example.test:8080/a/b/a%3Ab:pw@h/n.toml"},
      {"https:a:pw@h/n.toml", "https://a:pw@h/n.toml"},
      {"//other.test/n b", "http://other.test/n%20b"},
      {"//a%3Ab:pw@other.test/n", "http://a%3Ab:pw@other.test/n"},
  };
  for (const auto& [location, expected] : cases) {
    EXPECT_EQ(follow_location(current, location).value().as_string(), expected) << location;
  }
  const auto bad = follow_location(current, "//[bad");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().kind(), agent::error::Kind::UrlParse);
}

TEST(BasicCredentials, OnlyWithUserAndPassword) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"https://alice:s3cret@h/", "Basic YWxpY2U6czNjcmV0"},
      {"https://al%40ce:p%3Ass@h/", "Basic YWxAY2U6cDpzcw=="},  // percent-decoded
      {"https://us er:pâss@h/", "Basic dXMgZXI6cMOic3M="},
      {"https://alice@h/", std::nullopt},
      {"https://alice:@h/", std::nullopt},
      {"https://:pw@h/", std::nullopt},
      {"https://a%3Ab@h/", std::nullopt},  // no password: nothing to tell apart
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(basic_authorization(*util::Url::parse(url)).value(), expected);
  // "a:b" with "pw" would reach the server as "a" with "b:pw".
  const auto refused = basic_authorization(*util::Url::parse("https://a%3Ab:pw@h/n.toml"));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().to_string(),
            "HTTP error: the user name in https://****:****@h/n.toml holds a \":\", which HTTP Basic "
            "authentication cannot carry");
}

TEST(MetricsDocument, ByteForByte) {
  models::UpdateNodeMetricsRequest request;
  request.os = "Debian";
  request.os_arch = "x86_64";
  request.ips = {"10.0.0.1", "fe80::1"};
  request.valdori_agent_version = "0.1.0 (abc1234)";
  request.error_logs = "Network controller://a: Pending\nNetwork controller://b: \"x\"";
  EXPECT_EQ(
      models::to_json(request),
      R"js({"os":"Debian","os_version":null,"os_arch":"x86_64","rust_version":null,"ips":["10.0.0.1","fe80::1"],)js"
      R"js("valdori_agent_version":"0.1.0 (abc1234)","valdori_ui_version":null,"super_peers":{},"networks":{},)js"
      R"js("error_logs":"Network controller://a: Pending\nNetwork controller://b: \"x\""})js");
  request.super_peers["b"] = {true, 12, true, false};
  request.networks["n"] = {1, 2, true};
  const std::string json = models::to_json(request);
  EXPECT_NE(json.find(R"("super_peers":{"b":{"connected":true,"ping":12,"ipv4":true,"ipv6":false}})"),
            std::string::npos);
  EXPECT_NE(json.find(R"("networks":{"n":{"rx":1,"tx":2,"enabled":true}})"), std::string::npos);
}

TEST(MetricsErrorLog, TroubledControllerNetworksInMapOrder) {
  using network::NetworkHealth;
  agent::NetworkMap networks;
  const auto add = [&](const char* url, NetworkHealth health) {
    network::Network joined;
    joined.config_url = url;
    joined.health = std::move(health);
    networks.insert_or_assign(*util::Url::parse(url), std::move(joined));
  };
  EXPECT_EQ(agent::housekeeping::error_log_text(networks), std::nullopt);
  add("controller://a", {NetworkHealth::Ok{}});
  add("https://h/n.toml", {NetworkHealth::RetrieveConfigError{"ignored"}});
  add("controller://b", {NetworkHealth::Initializing{}});
  EXPECT_EQ(agent::housekeeping::error_log_text(networks), std::nullopt);
  add("controller://c", {NetworkHealth::Pending{}});
  add("controller://d", {NetworkHealth::RetrieveConfigError{""}});
  add("controller://e", {NetworkHealth::NotAMemberError{}});
  std::vector<std::string> expected;
  for (const auto& [url, joined] : networks) {
    if (url.as_string() == "controller://c") expected.push_back("Network controller://c: Pending");
    if (url.as_string() == "controller://d") expected.push_back("Network controller://d: RetrieveConfigError - ");
    if (url.as_string() == "controller://e") expected.push_back("Network controller://e: NotAMemberError");
  }
  EXPECT_EQ(agent::housekeeping::error_log_text(networks), fmt::format("{}", fmt::join(expected, "\n")));
}

}  // namespace
}  // namespace valdori::controller
