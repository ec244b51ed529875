// The authorization server's and the controller API's records from and to JSON: documents as
// servers send them (the RFCs' own examples among them), refusals that name the expected type,
// absent and null optionals, and requests that come back as they were sent.
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "agent/controller/api_models.hpp"
#include "agent/controller/auth_models.hpp"
#include "agent/controller/client.hpp"
#include "agent/controller/models.hpp"
#include "p2p_core/identity/identity.hpp"
#include "util/text/uuid.hpp"

namespace valdori::controller::models {
namespace {

using Json = nlohmann::ordered_json;
using namespace auth;  // the records of both modules side by side

constexpr const char* kKey = "0707070707070707070707070707070707070707070707070707070707070707";
constexpr const char* kOtherKey = "8a88e3dd7409f195fd52db2d3cba5d72ca6709bf1d94121bf3748801b40f6f5c";

// Decoding by type name, so that one table covers every record.
template <class T>
void decode(const Json& json) {
  (void)json.get<T>();
}
const std::map<std::string, std::function<void(const Json&)>> kDecoders = {
    {"DeviceAuthorizationResponse", decode<DeviceAuthorizationResponse>},
    {"TokenSuccess", decode<TokenSuccess>},
    {"UserInfo", decode<UserInfo>},
    {"TokenError", decode<TokenError>},
    {"NetworkResponse", decode<NetworkResponse>},
    {"NetworkGroupResponse", decode<NetworkGroupResponse>},
    {"NetworkMemberResponse", decode<NetworkMemberResponse>},
    {"NetworkNodeResponse", decode<NetworkNodeResponse>},
    {"NetworkPolicyResponse", decode<NetworkPolicyResponse>},
    {"NetworkRouteResponse", decode<NetworkRouteResponse>},
    {"NodeAuthChallengeResponse", decode<NodeAuthChallengeResponse>},
    {"NodeLinkResponse", decode<NodeLinkResponse>},
    {"AddNetworkNodesRequest", decode<AddNetworkNodesRequest>},
    {"NetworkNodePayload", decode<NetworkNodePayload>},
    {"CreateNetworkRequest", decode<CreateNetworkRequest>},
    {"NetworkGroupPayload", decode<NetworkGroupPayload>},
    {"NetworkPolicyPayload", decode<NetworkPolicyPayload>},
    {"NetworkRoutePayload", decode<NetworkRoutePayload>},
    {"NodeAuthChallengePayload", decode<NodeAuthChallengePayload>},
    {"NodeLinkRequest", decode<NodeLinkRequest>},
    {"NodeLinkSignature", decode<NodeLinkSignature>},
    {"NodeLinkChallengePayload", decode<NodeLinkChallengePayload>},
    {"UpdateNodeMetricsRequest", decode<UpdateNodeMetricsRequest>},
    {"SuperPeerMetrics", decode<SuperPeerMetrics>},
    {"NetworkTrafficMetrics", decode<NetworkTrafficMetrics>},
};

std::string refusal(const std::string& type, const Json& json) {
  try {
    kDecoders.at(type)(json);
  } catch (const nlohmann::json::exception& e) {
    return e.what();
  }
  return "decoded";
}

TEST(ModelDecoding, AValueOfTheWrongShapeNamesTheType) {
  for (const auto& [type, decoder] : kDecoders) {
    EXPECT_EQ(refusal(type, 7), "invalid type: integer `7`, expected struct " + type);
    EXPECT_EQ(refusal(type, Json::array()), "invalid type: array, expected struct " + type);
  }
}

TEST(ModelDecoding, RefusalsNameTheTypeTheFieldAndWhatWasExpected) {
  const std::string challenge =
      R"({"challenge_id":"c","node_public_key":"pk","user_id":"u","nonce":"n","issued_at":1,"expires_at":2,)"
      R"("audience":"a"})";
  struct Case {
    std::string type;
    std::string json;
    std::string refusal;
  };
  const Case cases[] = {
      {"TokenSuccess", R"({"token_type":"Bearer"})", "struct TokenSuccess: missing field `access_token`"},
      {"TokenSuccess", R"({"access_token":"a","token_type":"Bearer","expires_in":"3600"})",
       R"(struct TokenSuccess: field `expires_in`: invalid type: string "3600", expected an integer)"},
      {"TokenSuccess", R"({"access_token":"a","token_type":"Bearer","expires_in":-1})",
       "struct TokenSuccess: field `expires_in`: invalid value: integer `-1`, expected an integer from 0 to "
       "18446744073709551615"},
      {"DeviceAuthorizationResponse",
       R"({"device_code":"d","user_code":"u","verification_uri":"https://a.test","expires_in":1.5})",
       "struct DeviceAuthorizationResponse: field `expires_in`: invalid type: floating point `1.5`, expected an "
       "integer"},
      {"TokenError", R"({"error":null})", "struct TokenError: field `error`: invalid type: null, expected a string"},
      {"UserInfo", R"({"sub":"1","email_verified":"true"})",
       R"(struct UserInfo: field `email_verified`: invalid type: string "true", expected a boolean)"},
      {"UserInfo", R"({"sub":"1","email_verified":")" + std::string(65, 'x') + R"("})",
       "struct UserInfo: field `email_verified`: invalid type: string, expected a boolean"},
      {"UserInfo", R"({"sub":"1","name":{}})",
       "struct UserInfo: field `name`: invalid type: object, expected a string"},
      {"NetworkResponse", R"({"id":"nope","name":"n","network":"10.0.0.0/8"})",
       R"(struct NetworkResponse: field `id`: invalid value: string "nope", expected a UUID)"},
      {"NetworkResponse", R"({"id":"0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a44","name":"n","network":"10.0.0.0"})",
       R"(struct NetworkResponse: field `network`: invalid value: string "10.0.0.0", expected an IPv4 network such )"
       "as 10.44.0.0/24"},
      {"NetworkNodeResponse", R"({"public_key":"07","hostname":"h","ip":"10.0.0.1"})",
       R"(struct NetworkNodeResponse: field `public_key`: invalid value: string "07", expected a public key of 64 )"
       "hexadecimal digits"},
      {"NetworkNodeResponse", std::string(R"({"public_key":")") + kKey + R"(","hostname":"h","ip":"10.0.0.256"})",
       R"(struct NetworkNodeResponse: field `ip`: invalid value: string "10.0.0.256", expected an IPv4 address such )"
       "as 10.44.0.1"},
      {"NetworkNodeResponse",
       std::string(R"({"public_key":")") + kKey + R"(","hostname":"h","ip":"10.0.0.1","groups":["a",1]})",
       "struct NetworkNodeResponse: field `groups`: element 1: invalid type: integer `1`, expected a string"},
      {"NetworkMemberResponse", R"({"user_id":"u"})", "struct NetworkMemberResponse: missing field `role`"},
      {"NetworkPolicyResponse", R"({"id":"0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a44","source_groups":[]})",
       "struct NetworkPolicyResponse: missing field `destination_groups`"},
      {"NodeAuthChallengeResponse", R"({"challenge_id":"c"})",
       "struct NodeAuthChallengeResponse: missing field `node_public_key`"},
      {"NodeLinkResponse", std::string(R"({"node_public_key":")") + kKey + R"(","user_id":"u","linked_at":1e9})",
       "struct NodeLinkResponse: field `linked_at`: invalid type: floating point `1000000000.0`, expected an integer"},
      {"AddNetworkNodesRequest", std::string(R"({"nodes":[{"public_key":")") + kKey + R"(","hostname":"a"},"b"]})",
       R"(struct AddNetworkNodesRequest: field `nodes`: element 1: invalid type: string "b", expected struct )"
       "NetworkNodePayload"},
      {"NodeLinkRequest", R"({"challenge":{},"signature":{"algorithm":"Ed25519","signature":"s"}})",
       "struct NodeLinkRequest: field `challenge`: struct NodeLinkChallengePayload: missing field `challenge_id`"},
      {"NodeLinkRequest", R"({"challenge":)" + challenge + R"(,"signature":null})",
       "struct NodeLinkRequest: field `signature`: invalid type: null, expected struct NodeLinkSignature"},
      {"UpdateNodeMetricsRequest", R"({"os":"Debian","ips":[],"super_peers":{"sp":{"connected":1}}})",
       R"(struct UpdateNodeMetricsRequest: field `super_peers`: member "sp": struct SuperPeerMetrics: field )"
       "`connected`: invalid type: integer `1`, expected a boolean"},
      {"UpdateNodeMetricsRequest", R"({"os":"Debian","ips":[],"super_peers":{},"networks":[]})",
       "struct UpdateNodeMetricsRequest: field `networks`: invalid type: array, expected an object"},
  };
  for (const Case& c : cases) EXPECT_EQ(refusal(c.type, Json::parse(c.json)), c.refusal) << c.json;
}

TEST(ModelDecoding, AuthorizationServerDocumentsFromTheStandards) {
  // RFC 8628, 3.2.
  const auto device = Json::parse(R"({
      "device_code": "GmRhmhcxhwAzkoEqiMEg_DnyEysNkuNhszIySk9eS",
      "user_code": "WDJB-MJHT",
      "verification_uri": "https://example.com/device",
      "verification_uri_complete": "https://example.com/device?user_code=WDJB-MJHT",
      "expires_in": 1800,
      "interval": 7})")
                          .get<DeviceAuthorizationResponse>();
  EXPECT_EQ(device.device_code, "GmRhmhcxhwAzkoEqiMEg_DnyEysNkuNhszIySk9eS");
  EXPECT_EQ(device.user_code, "WDJB-MJHT");
  EXPECT_EQ(device.verification_uri, "https://example.com/device");
  EXPECT_EQ(device.verification_uri_complete, "https://example.com/device?user_code=WDJB-MJHT");
  EXPECT_EQ(device.expires_in, 1800u);
  EXPECT_EQ(device.interval, 7u);
  // Without an interval, or with null, the client waits 5 seconds.
  for (const char* interval : {"", R"(, "interval": null)"}) {
    const auto bare = Json::parse(std::string(R"({"device_code":"d","user_code":"u","verification_uri":"v",)") +
                                  R"("expires_in":600)" + interval + "}")
                          .get<DeviceAuthorizationResponse>();
    EXPECT_EQ(bare.interval, 5u);
    EXPECT_EQ(bare.verification_uri_complete, std::nullopt);
  }

  // RFC 6749, 5.1: an unknown parameter is ignored.
  const auto token = Json::parse(R"({
      "access_token":"2YotnFZFEjr1zCsicMWpAA",
      "token_type":"example",
      "expires_in":3600,
      "refresh_token":"tGzv3JOkF0XG5Qx2TlKWIA",
      "example_parameter":"example_value"})")
                         .get<TokenSuccess>();
  EXPECT_EQ(token.access_token, "2YotnFZFEjr1zCsicMWpAA");
  EXPECT_EQ(token.token_type, "example");
  EXPECT_EQ(token.expires_in, 3600u);
  EXPECT_EQ(token.refresh_token, "tGzv3JOkF0XG5Qx2TlKWIA");
  EXPECT_EQ(token.scope, std::nullopt);
  EXPECT_EQ(token.id_token, std::nullopt);
  const auto nulls =
      Json::parse(R"({"access_token":"a","token_type":"Bearer","expires_in":null,"scope":null})").get<TokenSuccess>();
  EXPECT_EQ(nulls.expires_in, std::nullopt);
  EXPECT_EQ(nulls.scope, std::nullopt);

  // RFC 6749, 5.2: a device still waiting for its user (RFC 8628, 3.5).
  const auto pending =
      Json::parse(R"({"error":"authorization_pending","error_description":"waiting"})").get<TokenError>();
  EXPECT_EQ(pending.error, "authorization_pending");
  EXPECT_EQ(pending.error_description, "waiting");
  EXPECT_EQ(pending.error_uri, std::nullopt);

  // OpenID Connect Core 1.0, 5.3.2.
  const auto user = Json::parse(R"({
      "sub": "248289761001",
      "name": "Jane Doe",
      "given_name": "Jane",
      "family_name": "Doe",
      "preferred_username": "j.doe",
      "email": "janedoe@example.com",
      "picture": "http://example.com/janedoe/me.jpg"})")
                        .get<UserInfo>();
  EXPECT_EQ(user.sub, "248289761001");
  EXPECT_EQ(user.name, "Jane Doe");
  EXPECT_EQ(user.preferred_username, "j.doe");
  EXPECT_EQ(user.email, "janedoe@example.com");
  EXPECT_EQ(user.email_verified, std::nullopt);
  EXPECT_EQ(user.picture, "http://example.com/janedoe/me.jpg");
}

TEST(ModelDecoding, ControllerResponses) {
  const auto network = Json::parse(R"({"id":"0B6F1C2E-8A61-4BDE-9C1A-2F2B8E1F3A44","name":"home",)"
                                   R"("network":"10.44.0.0/24","created_by":"someone"})")
                           .get<NetworkResponse>();
  EXPECT_EQ(util::text::uuid_text(network.id), "0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a44");
  EXPECT_EQ(network.name, "home");
  EXPECT_EQ(network.network.to_string(), "10.44.0.0/24");

  const auto node = Json::parse(std::string(R"({"public_key":")") + kKey +
                                R"(","hostname":"laptop","ip":"10.44.0.7","groups":["admins","ALL"]})")
                        .get<NetworkNodeResponse>();
  EXPECT_EQ(node.public_key.to_string(), kKey);
  EXPECT_EQ(node.hostname, "laptop");
  EXPECT_EQ(node.ip.to_string(), "10.44.0.7");
  EXPECT_EQ(node.groups, (Groups{"admins", "ALL"}));
  EXPECT_TRUE(Json::parse(std::string(R"({"public_key":")") + kKey + R"(","hostname":"h","ip":"10.44.0.8"})")
                  .get<NetworkNodeResponse>()
                  .groups.empty());

  const auto route = Json::parse(std::string(R"({"id":"0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a45",)") +
                                 R"("destination":"192.168.1.0/24","gateway":")" + kOtherKey + R"(","groups":null})")
                         .get<NetworkRouteResponse>();
  EXPECT_EQ(route.destination.to_string(), "192.168.1.0/24");
  EXPECT_EQ(route.gateway.to_string(), kOtherKey);
  EXPECT_TRUE(route.groups.empty());

  const auto member = Json::parse(R"({"user_id":"248289761001","email":"janedoe@example.com","role":"owner"})")
                          .get<NetworkMemberResponse>();
  EXPECT_EQ(member.name, std::nullopt);
  EXPECT_EQ(member.email, "janedoe@example.com");
  EXPECT_EQ(member.role, "owner");
}

TEST(ModelDecoding, ARefusedReplyIsABodyParseError) {
  EXPECT_EQ(decode_json_reply<TokenError>(R"({"error":"slow_down"})")->error, "slow_down");
  const auto refused = decode_json_reply<TokenSuccess>(R"({"token_type":"Bearer"})");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), error::Kind::BodyParse);
  EXPECT_EQ(refused.error().to_string(),
            "Failed to parse response body as JSON: Failed to parse response as JSON: struct TokenSuccess: missing "
            "field `access_token`");
  EXPECT_EQ(decode_json_reply<AuthServerError>(R"("a\nb")").error().to_string(),
            "Failed to parse response body as JSON: Failed to parse response as JSON: enum AuthServerError: unknown "
            "variant `a\\nb`");
}

TEST(ModelDecoding, TheIssuedChallengeIsSignedAsItCame) {
  const auto issued = Json::parse(R"({"challenge_id":"c","node_public_key":"pk","user_id":"u","nonce":"n",)"
                                  R"("issued_at":0,"expires_at":-1,"audience":"aud"})")
                          .get<NodeAuthChallengeResponse>();
  const auto identity = *p2p::Identity::generate(0);
  const NodeLinkChallengePayload expected{"c", "pk", "u", "n", 0, -1, "aud"};
  EXPECT_EQ(build_link_request(issued, identity.sk(), std::nullopt).signature.signature,
            build_link_request(expected, identity.sk(), std::nullopt).signature.signature);
}

// Encodes `value`, decodes that and encodes it again: the two documents are the same.
template <class T>
Json round_trip(const T& value) {
  Json sent = value;
  const Json again = sent.get<T>();
  EXPECT_EQ(again, sent);
  return sent;
}

TEST(ModelEncoding, RequestsComeBackAsTheyWereSent) {
  const auto key = *p2p::PubKey::from_str(kKey);
  const auto gateway = *p2p::PubKey::from_str(kOtherKey);
  EXPECT_EQ(round_trip(CreateNetworkRequest{"home", util::net::Ipv4Net::parse("10.44.0.0/24").value()}).dump(),
            R"({"name":"home","network":"10.44.0.0/24"})");
  EXPECT_EQ(round_trip(NetworkNodePayload{key, "laptop", std::nullopt, {}}).dump(),
            std::string(R"({"public_key":")") + kKey + R"(","hostname":"laptop","ip":null,"groups":[]})");
  const AddNetworkNodesRequest add{{{key, "laptop", util::net::parse_ipv4_addr("10.44.0.7"), {"admins"}},
                                    {gateway, "router", std::nullopt, {"ALL", "routers"}}}};
  EXPECT_EQ(round_trip(add)["nodes"][1]["groups"], Json({"ALL", "routers"}));
  EXPECT_EQ(round_trip(NetworkGroupPayload{"admins"}).dump(), R"({"name":"admins"})");
  EXPECT_EQ(round_trip(NetworkPolicyPayload{{"a"}, {"b", "c"}}).dump(),
            R"({"source_groups":["a"],"destination_groups":["b","c"]})");
  EXPECT_EQ(round_trip(NetworkRoutePayload{util::net::Ipv4Net::parse("192.168.1.0/24").value(), gateway, {"a"}}).dump(),
            std::string(R"({"destination":"192.168.1.0/24","gateway":")") + kOtherKey + R"(","groups":["a"]})");
  EXPECT_EQ(round_trip(NodeAuthChallengePayload{key}).dump(), std::string(R"({"node_public_key":")") + kKey + "\"}");

  UpdateNodeMetricsRequest metrics{"Debian",
                                   "12",
                                   std::nullopt,
                                   std::nullopt,
                                   {"10.0.0.2"},
                                   "1.0.0",
                                   std::nullopt,
                                   {{"sp", {true, 12, true, false}}},
                                   {{"net", {1, 2, true}}},
                                   "x"};
  EXPECT_EQ(round_trip(metrics).dump(), to_json(metrics));

  const auto identity = *p2p::Identity::generate(0);
  for (const std::optional<std::string>& extra : {std::optional<std::string>(), std::optional<std::string>("x")}) {
    const auto request = build_link_request({"c", "pk", "u", "n", 1700000000, -1, "aud"}, identity.sk(), extra);
    const Json sent = round_trip(request);
    EXPECT_EQ(sent["signature"]["algorithm"], "Ed25519");
    EXPECT_EQ(sent["signature"]["signature"], request.signature.signature);
    EXPECT_EQ(sent["challenge"]["expires_at"], -1);
    EXPECT_EQ(sent["extra"], extra ? Json(*extra) : Json(nullptr));
  }
}

TEST(AuthServerErrorDecoding, ExternallyTaggedByKindName) {
  using Kind = AuthServerError::Kind;
  struct Case {
    const char* json;
    Kind kind;
    std::uint16_t status = 0;
  };
  const Case decoded[] = {
      {R"("NotFound")", Kind::NotFound},
      {R"("Unauthorized")", Kind::Unauthorized},
      {R"("GatewayTimeout")", Kind::GatewayTimeout},
      {R"({"BadGateway":null})", Kind::BadGateway},
      {R"({"ServerError":{"status":418}})", Kind::ServerError, 418},
      {R"({"ServerError":{"status":65535,"reason":"x"}})", Kind::ServerError, 65535},
  };
  for (const Case& c : decoded) {
    const auto error = Json::parse(c.json).get<AuthServerError>();
    EXPECT_EQ(error.kind, c.kind) << c.json;
    EXPECT_EQ(error.status, c.status) << c.json;
  }
  EXPECT_EQ(nlohmann::json::parse(R"({"ServerError":{"status":418}})").get<AuthServerError>().message(),
            "Server error (418)");

  const std::pair<const char*, const char*> refused[] = {
      {"7", "invalid type: integer `7`, expected enum AuthServerError"},
      {"{}", "invalid type: object, expected enum AuthServerError"},
      {R"({"NotFound":null,"Forbidden":null})", "invalid type: object, expected enum AuthServerError"},
      {R"("Teapot")", "enum AuthServerError: unknown variant `Teapot`"},
      {R"({"Teapot":{"status":418}})", "enum AuthServerError: unknown variant `Teapot`"},
      {R"({"NotFound":1})", "invalid type: integer `1`, expected unit variant AuthServerError::NotFound"},
      {R"("ServerError")",
       R"(invalid type: string "ServerError", expected struct variant AuthServerError::ServerError)"},
      {R"({"ServerError":418})", "invalid type: integer `418`, expected struct variant AuthServerError::ServerError"},
      {R"({"ServerError":{}})", "struct variant AuthServerError::ServerError: missing field `status`"},
      {R"({"ServerError":{"status":70000}})",
       "struct variant AuthServerError::ServerError: field `status`: invalid value: integer `70000`, expected an "
       "integer from 0 to 65535"},
  };
  for (const auto& [json, text] : refused) {
    try {
      (void)Json::parse(json).get<AuthServerError>();
      ADD_FAILURE() << json << " decoded";
    } catch (const nlohmann::json::exception& e) {
      EXPECT_EQ(std::string(e.what()), text);
    }
  }
}

}  // namespace
}  // namespace valdori::controller::models
