#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/uuid/uuid_io.hpp>

#include "agent/network/config/network_config_reader.hpp"
#include "agent/toml/document.hpp"
#include "derived_list_samples.hpp"
#include "document_samples.hpp"

namespace valdori::network::config {
namespace {

using namespace samples;

PubKey pub_key(const std::string& text) { return *PubKey::from_str(text); }

agent::toml_doc::ReadResult<NetworkConfig> read(const std::string& text) {
  auto document = agent::toml_doc::parse_document(text);
  if (!document) return document.error();
  return read_network_config(*document);
}

TEST(NetworkConfigReader, NetworkAloneReadsAsEmptyNetwork) {
  auto config = read("network = \"10.44.0.0/24\"\n");
  ASSERT_TRUE(config) << config.error().message;
  EXPECT_EQ(*config, (NetworkConfig{std::nullopt, net("10.44.0.0/24"), std::nullopt, {}, {}, {}}));
}

TEST(NetworkConfigReader, ReadsEveryKey) {
  auto config = read(R"(
id = "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f"
network = "10.44.0.9/24"
name = "lab"
comment = "unknown keys are ignored"

[[node]]
pk = ")" + kKeyA + R"("
ip = "10.44.0.1"
hostname = "Gateway"
groups = ["ops", "ops", "dev", "Ops"]
note = "ignored"

[[route]]
dest = "192.168.5.0/24"
gw = ")" + kKeyA + R"("
groups = ["dev"]

[[policy]]
source_groups = ["ops", "dev"]
destination_groups = ["ALL"]

[[policy]]
source_groups = ["dev", "ops", "dev"]
destination_groups = ["ALL"]
)");
  ASSERT_TRUE(config) << config.error().message;
  ASSERT_TRUE(config->id);
  EXPECT_EQ(boost::uuids::to_string(*config->id), "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f");
  EXPECT_EQ(config->network, net("10.44.0.9/24"));  // host bits kept as written
  EXPECT_EQ(config->name, "lab");
  EXPECT_EQ(config->node,
            (NodeMap{{pub_key(kKeyA), {pub_key(kKeyA), addr("10.44.0.1"), "Gateway", {"Ops", "dev", "ops"}}}}));
  EXPECT_EQ(config->route, (RouteMap{{net("192.168.5.0/24"), {net("192.168.5.0/24"), pub_key(kKeyA), {"dev"}}}}));
  EXPECT_EQ(config->policy, (PolicySet{{{"dev", "ops"}, {"ALL"}}}));
}

TEST(NetworkConfigReader, AcceptsListsAndKeepsDistinctEntries) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t nodes, routes, policies;
  };
  const Case cases[] = {
      {"routes differing in prefix length only",
       "network = \"10.0.0.0/8\"\n" + route("10.8.0.0/16", kKeyA) + route("10.8.0.0/24", kKeyA), 0, 2, 0},
      {"inline array of tables",
       "network = \"10.0.0.0/8\"\nnode = [{pk = \"" + kKeyA + "\", ip = \"10.0.0.1\", hostname = \"a\"}]\n", 1, 0, 0},
      {"empty lists", "network = \"10.0.0.0/8\"\nnode = []\nroute = []\npolicy = []\n", 0, 0, 0},
      {"host names differing beyond case",
       "network = \"10.0.0.0/8\"\n" + node(kKeyA, "10.0.0.1", "web") + node(kKeyB, "10.0.0.2", "web-2"), 2, 0, 0},
      {"policies with differing sides",
       "network = \"10.0.0.0/8\"\n[[policy]]\nsource_groups = [\"a\"]\ndestination_groups = [\"b\"]\n"
       "[[policy]]\nsource_groups = [\"b\"]\ndestination_groups = [\"a\"]\n"
       "[[policy]]\nsource_groups = [\"a\", \"b\"]\ndestination_groups = []\n",
       0, 0, 3},
  };
  for (const Case& c : cases) {
    auto config = read(c.text);
    ASSERT_TRUE(config) << c.name << ": " << config.error().message;
    EXPECT_EQ(config->node.size(), c.nodes) << c.name;
    EXPECT_EQ(config->route.size(), c.routes) << c.name;
    EXPECT_EQ(config->policy.size(), c.policies) << c.name;
  }
}

TEST(NetworkConfigReader, RejectsWithTheRuleThatFailed) {
  const std::string network = "network = \"10.44.0.0/24\"\n";
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"no network", "name = \"x\"\n", "missing field `network`"},
      {"node without pk and ip", network + "[[node]]\nhostname = \"a\"\n", "missing field `pk`"},
      {"policy without groups", network + "[[policy]]\n", "missing field `source_groups`"},
      {"same address", network + node(kKeyA, "10.44.0.1", "a") + node(kKeyB, "10.44.0.1", "b"),
       "duplicate IP address: 10.44.0.1"},
      {"host names equal lower-cased",
       network + node(kKeyA, "10.44.0.1", "Gateway") + node(kKeyB, "10.44.0.2", "gateway"),
       "duplicate hostname: gateway"},
      {"non-ASCII host names equal lower-cased",
       network + node(kKeyA, "10.44.0.1", "\xC3\x84rger") + node(kKeyB, "10.44.0.2", "\xC3\xA4rger"),
       "duplicate hostname: \xC3\xA4rger"},
      {"same route destination", network + route("10.8.0.0/24", kKeyA) + route("10.8.0.0/24", kKeyB),
       "duplicate route destination: 10.8.0.0/24"},
      {"node as a single table", network + "[node]\npk = \"" + kKeyA + "\"\nip = \"10.44.0.1\"\nhostname = \"a\"\n",
       "invalid type: table, expected an array"},
      {"more nodes than any real network",
       network + "node = [" +
           [] {
             std::string ones;
             for (int i = 0; i < 16385; ++i) ones += "1,";
             return ones;
           }() +
           "]\n",
       "more than 16384 nodes"},
      {"network not a string", "network = 5\n", "invalid type: integer `5`, expected a string"},
      {"network without prefix length", "network = \"10.44.0.0\"\n",
       "invalid value: string \"10.44.0.0\", expected an IPv4 network such as 10.44.0.0/24"},
      {"bad address", network + node(kKeyA, "10.44.0.256", "a"),
       "invalid value: string \"10.44.0.256\", expected an IPv4 address such as 10.44.0.1"},
      {"short public key", network + node("abcd", "10.44.0.1", "a"), "Hex error: Invalid hex string length"},
      {"groups as one string", network + route("10.8.0.0/16", kKeyA) + "groups = \"ops\"\n",
       "invalid type: string \"ops\", expected an array"},
  };
  for (const Case& c : cases) {
    auto config = read(c.text);
    ASSERT_FALSE(config) << c.name;
    EXPECT_EQ(config.error().message, c.message) << c.name;
  }
}

TEST(NetworkConfigReader, DuplicateIsPlacedAtTheSecondEntry) {
  auto config = read("network = \"10.44.0.0/24\"\n" + node(kKeyA, "10.44.0.1", "a") + node(kKeyB, "10.44.0.1", "b"));
  ASSERT_FALSE(config);
  ASSERT_TRUE(config.error().position);
  EXPECT_EQ(config.error().position->line, 6u);
}

TEST(MultiNetworkConfig, ReadsEntriesInDocumentOrderWithoutChecks) {
  auto multi = parse_multi_network_config(R"(
[[network]]
id = "00000000-0000-0000-0000-000000000002"
network = "10.2.0.0/24"
name = "second"

[[network.node]]
pk = ")" + kKeyA + R"("
ip = "10.9.9.9"
hostname = "not_checked"

[[network.route]]
dest = "10.8.0.1/16"
gw = ")" + kKeyB + R"("

[[network.policy]]
source_groups = ["a"]
destination_groups = ["b"]

[[network]]
network = "10.1.0.0/24"
)");
  ASSERT_TRUE(multi) << multi.error().message;
  ASSERT_EQ(multi->network.size(), 2u);
  const NetworkConfig& first = multi->network[0];
  ASSERT_TRUE(first.id);
  EXPECT_EQ(boost::uuids::to_string(*first.id), "00000000-0000-0000-0000-000000000002");
  EXPECT_EQ(first.name, "second");
  EXPECT_EQ(first.node.at(pub_key(kKeyA)).ip, addr("10.9.9.9"));     // outside the network: not checked here
  EXPECT_EQ(first.route.at(net("10.8.0.1/16")).gw, pub_key(kKeyB));  // unknown gateway: not checked here
  EXPECT_EQ(first.policy.size(), 1u);
  EXPECT_EQ(multi->network[1], (NetworkConfig{std::nullopt, net("10.1.0.0/24"), std::nullopt, {}, {}, {}}));
}

TEST(MultiNetworkConfig, RejectsMalformedDocuments) {
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"no network key", "other = 1\n", "missing field `network`"},
      {"entry not a table", "network = [1]\n", "invalid type: integer `1`, expected a table"},
      {"reader rules apply inside entries",
       "[[network]]\nnetwork = \"10.0.0.0/24\"\n[[network.route]]\ndest = \"10.8.0.0/24\"\ngw = \"" + kKeyA +
           "\"\n[[network.route]]\ndest = \"10.8.0.0/24\"\ngw = \"" + kKeyA + "\"\n",
       "duplicate route destination: 10.8.0.0/24"},
  };
  for (const Case& c : cases) {
    auto multi = parse_multi_network_config(c.text);
    ASSERT_FALSE(multi) << c.name;
    EXPECT_EQ(multi.error().message, c.message) << c.name;
  }
}

TEST(MultiNetworkConfig, EmptyListAndSyntaxError) {
  auto empty = parse_multi_network_config("network = []\n");
  ASSERT_TRUE(empty) << empty.error().message;
  EXPECT_TRUE(empty->network.empty());

  auto broken = parse_multi_network_config("[[network]\n");
  ASSERT_FALSE(broken);
  EXPECT_TRUE(broken.error().position);
}

TEST(NetworkPolicy, EqualPoliciesHashEquallyAndCollisionsStayApart) {
  const NetworkPolicy a_to_b{{"a"}, {"b"}};
  const NetworkPolicy ab_to_none{{"a", "b"}, {}};
  EXPECT_EQ(NetworkPolicyHash{}(a_to_b), NetworkPolicyHash{}(NetworkPolicy{{"a", "a"}, {"b"}}));
  // Both feed "a" FF "b" FF to the hasher; equality keeps them apart.
  EXPECT_EQ(NetworkPolicyHash{}(a_to_b), NetworkPolicyHash{}(ab_to_none));
  EXPECT_EQ((PolicySet{a_to_b, ab_to_none}).size(), 2u);
}

}  // namespace
}  // namespace valdori::network::config
