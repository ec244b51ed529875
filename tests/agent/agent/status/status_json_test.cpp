// The status records as JSON: every record back as it was, the forms of its members, and the
// refusals that name the record a value does not fit.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "agent/agent/status/status_json.hpp"
#include "tests/agent/agent/status/status_fixture.hpp"

namespace valdori::agent::status {
namespace {

using namespace test;
using Json = nlohmann::ordered_json;

// The connected snapshot with what it leaves empty filled in.
Status full() {
  Status s = connected();
  s.time_deviation = -1500ms;
  s.node_opts.super_peers = {*p2p::SuperPeerUrl::try_from("udp://sp.example:22527?publicKey=" + key(0x11).to_string() +
                                                          "&networkId=7&tcpPort=443")};
  NodePeerStatus& np = s.node_peers.begin()->second;
  const p2p::peer::PeerPathKey direct{addr("::1", 4000), addr("::1", 5000)};
  np.best_direct_path = direct;
  np.direct_paths = {{direct, PathStatus{7, {350}, addr("::1", 5000), kNow}}};
  np.tx_short_id = p2p::message::ShortId{{0xa, 0xb, 0xc, 0xd}};
  network::AgentState& state = s.networks.begin()->second.current;
  state.access_rules.applied.emplace();
  for (const char* source : {"10.9.0.2/32", "10.9.0.1/32"}) {
    const network::config::EffectiveAccessRule rule{network::config::Direction::OUT, *util::net::Ipv4Net::parse(source),
                                                    *util::net::Ipv4Net::parse("10.9.0.0/16"), key(0x22),
                                                    network::config::Action::Allow};
    state.access_rules.applied->rules.emplace(network::config::EffectiveAccessRuleListEntryKey::of(rule), rule);
  }
  state.routes.applied.emplace();
  const auto dest = *util::net::Ipv4Net::parse("192.168.0.0/24");
  state.routes.applied->routes.emplace(dest,
                                       network::config::EffectiveRoute{dest, *util::net::parse_ipv4_addr("10.9.0.2")});
  state.hostnames.applied.emplace();
  state.hostnames.applied->hostnames.emplace(*util::net::parse_ipv4_addr("10.9.0.2"), "web-01");
  return s;
}

template <class T>
Json again(const Json& json) {
  return Json(json.get<T>());
}

TEST(StatusJson, EveryRecordComesBackAsItWas) {
  const Status status = full();
  const Json json = status;
  struct Case {
    const char* record;
    Json encoded;
    std::function<Json(const Json&)> decode_encode;
  };
  const Case cases[] = {
      {"Status", json, again<Status>},
      {"ControllerStatus", json["controller"], again<ControllerStatus>},
      {"SuperPeerStatus", json["super_peers"].front(), again<SuperPeerStatus>},
      {"NodePeerStatus", json["node_peers"].front(), again<NodePeerStatus>},
      {"NetworkStatus", json["networks"].front(), again<NetworkStatus>},
      {"NetworkStatus", json["networks"].back(), again<NetworkStatus>},
      {"AgentStatus", Json(AgentStatus::DISCONNECTED), again<AgentStatus>},
  };
  for (const auto& c : cases) EXPECT_EQ(c.decode_encode(c.encoded), c.encoded) << c.record;
  // What the JSON does not show is kept too: the report, secrets and all, is the same.
  const Status back = json.get<Status>();
  EXPECT_EQ(to_string_with_secrets(back, true, kNowPoint), to_string_with_secrets(status, true, kNowPoint));
  EXPECT_EQ(back.node_opts.id, status.node_opts.id);
  EXPECT_TRUE(back.node_opts.message_sink);
  EXPECT_EQ(back.networks.begin()->second.current, status.networks.begin()->second.current);
}

TEST(StatusJson, MembersInTheirTextForms) {
  const Json json = full();
  const Json& np = json["node_peers"][key(0x22).to_string()];
  EXPECT_EQ(json["agent_status"], "CONNECTED");
  EXPECT_EQ(json["time_deviation"], Json::parse(R"({"secs": -2, "nanos": 500000000})"));
  EXPECT_EQ(json["controller"]["connection_status"], Json::parse(R"({"Err": "timeout"})"));
  EXPECT_EQ(json["node_opts"]["udp_port"], 0);
  EXPECT_EQ(json["node_opts"]["udp_addrs"], Json::parse(R"(["127.0.0.1", "::1"])"));
  EXPECT_EQ(np["pow"], "Ok");
  EXPECT_EQ(np["tx_short_id"], "0a0b0c0d");
  EXPECT_EQ(np["direct_paths"], Json::parse(R"([[{"local": "[::1]:4000", "remote": "[::1]:5000"},
      {"hello": 7, "latencies": [350], "last_ack_src": "[::1]:5000", "last_ack": 1796601600000000}]])"));
  const Json& file = json["networks"]["file:///tmp/b.toml"];
  EXPECT_EQ(file["health"], Json::parse(R"({"RetrieveConfigError": "no \"file\""})"));
  EXPECT_EQ(file["current"]["access_rules"]["applied"][0]["source"], "10.9.0.1/32");  // sorted
  EXPECT_EQ(file["current"]["hostnames"]["applied"], Json::parse(R"({"10.9.0.2": "web-01"})"));
  EXPECT_EQ(json["networks"]["https://user:pw@conf.example/n.toml"]["health"], "Ok");
}

TEST(StatusJson, RefusalsNameTheRecord) {
  Json status = full();
  const auto with = [&](const char* pointer, Json value) {
    Json changed = status;
    changed[Json::json_pointer(pointer)] = std::move(value);
    return changed;
  };
  const auto without = [&](const char* member) {
    Json changed = status;
    changed.erase(member);
    return changed;
  };
  struct Case {
    std::function<void()> decode;
    std::string error;
  };
  const std::string sp = "/super_peers/" + key(0x11).to_string();
  const Case cases[] = {
      {[] { (void)Json::array().get<Status>(); }, "invalid type: array, expected struct Status"},
      {[] { (void)Json(5).get<ControllerStatus>(); }, "invalid type: integer `5`, expected struct ControllerStatus"},
      {[] { (void)Json("x").get<SuperPeerStatus>(); }, "invalid type: string \"x\", expected struct SuperPeerStatus"},
      {[] { (void)Json().get<NodePeerStatus>(); }, "invalid type: null, expected struct NodePeerStatus"},
      {[] { (void)Json(true).get<NetworkStatus>(); }, "invalid type: boolean `true`, expected struct NetworkStatus"},
      {[] { (void)Json::object().get<AgentStatus>(); }, "invalid type: object, expected enum AgentStatus"},
      {[] { (void)Json("UP").get<AgentStatus>(); }, "enum AgentStatus: unknown variant `UP`"},
      {[&] { (void)without("node_opts").get<Status>(); }, "struct Status: missing field `node_opts`"},
      {[&] { (void)with((sp + "/tcp_port").c_str(), 70000).get<Status>(); },
       "struct Status: field `super_peers`: member \"" + key(0x11).to_string() +
           "\": struct SuperPeerStatus: field `tcp_port`: invalid value: integer `70000`, expected an integer from 0 "
           "to 65535"},
      {[&] { (void)with((sp + "/resolved_addrs/0").c_str(), "::1:80").get<Status>(); },
       "struct Status: field `super_peers`: member \"" + key(0x11).to_string() +
           "\": struct SuperPeerStatus: field `resolved_addrs`: element 0: invalid value: string \"::1:80\", expected "
           "a socket address such as 192.0.2.1:4000"},
      {[&] { (void)with("/networks/file:~1~1~1tmp~1b.toml/health", Json::parse(R"({"Pending": 1})")).get<Status>(); },
       "struct Status: field `networks`: member \"file:///tmp/b.toml\": struct NetworkStatus: field `health`: invalid "
       "type: integer `1`, expected unit variant NetworkHealth::Pending"},
      {[&] { (void)with("/agent_status", "UP").get<Status>(); },
       "struct Status: field `agent_status`: enum AgentStatus: unknown variant `UP`"},
      {[&] { (void)with("/node_opts/id/pk", key(0x33).to_string()).get<Status>(); },
       "struct Status: field `node_opts`: struct NodeOpts: field `id`: struct Identity: field `pk`: invalid value: "
       "string \"" +
           key(0x33).to_string() + "\", expected the public key of `sk`"},
  };
  for (const auto& c : cases) {
    try {
      c.decode();
      ADD_FAILURE() << "decoded: " << c.error;
    } catch (const nlohmann::json::exception& e) {
      EXPECT_EQ(e.what(), c.error);
    }
  }
}

}  // namespace
}  // namespace valdori::agent::status
