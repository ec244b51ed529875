#include <string>

#include <gtest/gtest.h>

#include "agent/network/config/network_config.hpp"
#include "agent/network/config/reserved_address.hpp"
#include "document_samples.hpp"

namespace valdori::network::config {
namespace {

using namespace samples;

TEST(NetworkConfigTryFrom, AcceptsWhatTheChecksLeaveAlone) {
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"no nodes, no routes", network("10.44.0.0/24")},
      {"network, first and broadcast address", network("10.44.0.0/24") + node(kKeyA, "10.44.0.0", "a") +
                                                   node(kKeyB, "10.44.0.1", "b") + node(kKeyC, "10.44.0.255", "c")},
      {"/31 at its upper address", network("10.0.0.4/31") + node(kKeyA, "10.0.0.5", "a")},
      {"/0 just below the reserved address", network("0.0.0.0/0") + node(kKeyA, "255.255.255.253", "a")},
      {"host name of 63 characters", network("10.44.0.0/24") + node(kKeyA, "10.44.0.1", std::string(63, 'x'))},
      {"routes inside the network, overlapping, or on a node's address",
       network("10.44.0.0/24") + node(kKeyA, "10.44.0.1", "a") + node(kKeyB, "10.44.0.2", "b") +
           route("10.44.0.0/25", kKeyA) + route("10.44.0.0/26", kKeyA) + route("10.44.0.2/32", kKeyA)},
      {"groups nobody has",
       network("10.44.0.0/24") + node(kKeyA, "10.44.0.1", "a") + route("10.8.0.0/16", kKeyA) +
           "groups = [\"nobody\"]\n[[policy]]\nsource_groups = [\"x\"]\ndestination_groups = [\"y\"]\n"},
  };
  for (const Case& c : cases) {
    auto config = NetworkConfig::try_from(c.text);
    EXPECT_TRUE(config) << c.name << ": " << (config ? "" : display(config.error()));
  }
}

TEST(NetworkConfigTryFrom, HostNamesAreCheckedLowerCasedAndKeptAsWritten) {
  const std::string kelvin_sign = "\xE2\x84\xAA";
  std::string kelvins;  // 66 bytes as written, 22 once lower-cased
  for (int i = 0; i < 22; ++i) kelvins += kelvin_sign;
  struct Case {
    const char* name;
    std::string hostname;
    bool valid;
  };
  const Case cases[] = {
      {"upper case", "Web-01", true},
      {"Kelvin sign", kelvin_sign + "elvin", true},
      {"long as written, short lower-cased", kelvins, true},
      {"capital I with dot: an i and a combining dot", "\xC4\xB0x", false},
      {"Kelvin sign and hyphen", kelvin_sign + "-", false},
  };
  for (const Case& c : cases) {
    auto config = NetworkConfig::try_from(network("10.44.0.0/24") + node(kKeyA, "10.44.0.1", c.hostname));
    if (!c.valid) {
      ASSERT_FALSE(config) << c.name;
      EXPECT_EQ(display(config.error()), "invalid hostname: " + c.hostname) << c.name;
      continue;
    }
    ASSERT_TRUE(config) << c.name << ": " << display(config.error());
    EXPECT_EQ(config->node.begin()->second.hostname, c.hostname) << c.name;
  }
}

TEST(NetworkConfigTryFrom, RejectsNodesAndRoutesThatDoNotFit) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;
  };
  const std::string net24 = network("10.44.0.0/24");
  const Case cases[] = {
      {"reserved address", net24 + node(kKeyA, "10.44.0.254", "a"), "IP address 10.44.0.254 is reserved"},
      {"reserved address of a subnet with host bits", network("10.44.0.9/24") + node(kKeyA, "10.44.0.254", "a"),
       "IP address 10.44.0.254 is reserved"},
      {"outside the network", net24 + node(kKeyA, "10.45.0.1", "a"),
       "IP address 10.45.0.1 is not in network 10.44.0.0/24"},
      {"outside with a bad host name too", net24 + node(kKeyA, "10.45.0.1", "bad_name"),
       "IP address 10.45.0.1 is not in network 10.44.0.0/24"},
      {"/32 elsewhere", network("10.0.0.5/32") + node(kKeyA, "10.0.0.4", "a"),
       "IP address 10.0.0.4 is not in network 10.0.0.5/32"},
      {"/31 lower address", network("10.0.0.4/31") + node(kKeyA, "10.0.0.4", "a"), "IP address 10.0.0.4 is reserved"},
      {"/0 reserved address", network("0.0.0.0/0") + node(kKeyA, "255.255.255.254", "a"),
       "IP address 255.255.255.254 is reserved"},
      // The reserved address saturates at 0.0.0.0 instead of wrapping to 255.255.255.255.
      {"0.0.0.0/32", network("0.0.0.0/32") + node(kKeyA, "0.0.0.0", "a"), "IP address 0.0.0.0 is reserved"},
      {"empty host name", net24 + node(kKeyA, "10.44.0.1", ""), "invalid hostname: "},
      {"host name of 64 characters", net24 + node(kKeyA, "10.44.0.1", std::string(64, 'x')),
       "invalid hostname: " + std::string(64, 'x')},
      {"leading hyphen", net24 + node(kKeyA, "10.44.0.1", "-web"), "invalid hostname: -web"},
      {"underscore", net24 + node(kKeyA, "10.44.0.1", "Web_01"), "invalid hostname: Web_01"},
      {"non-ASCII letter", net24 + node(kKeyA, "10.44.0.1", "caf\xC3\xA9"), "invalid hostname: caf\xC3\xA9"},
      // A line feed (written "\n" in the document) cannot start a log line of its own.
      {"line feed", net24 + node(kKeyA, "10.44.0.1", "a\\n2026-12-08T06:00:00.000000Z WARN  forged"),
       "invalid hostname: a\\n2026-12-08T06:00:00.000000Z WARN  forged"},
      {"route with host bits", net24 + node(kKeyA, "10.44.0.1", "a") + route("10.8.0.1/16", kKeyA),
       "invalid network address: 10.8.0.1/16 is a host address"},
      {"host bits before unknown gateway", net24 + route("10.8.0.1/16", kKeyB),
       "invalid network address: 10.8.0.1/16 is a host address"},
      {"unknown gateway", net24 + node(kKeyA, "10.44.0.1", "a") + route("10.8.0.0/16", kKeyB),
       kKeyB + " not found in nodes"},
      {"nodes before routes", net24 + node(kKeyA, "10.44.0.254", "a") + route("10.8.0.1/16", kKeyB),
       "IP address 10.44.0.254 is reserved"},
  };
  for (const Case& c : cases) {
    auto config = NetworkConfig::try_from(c.text);
    ASSERT_FALSE(config) << c.name;
    EXPECT_EQ(display(config.error()), c.error) << c.name;
  }
}

TEST(NetworkConfigTryFrom, ReadFailuresAreTomlErrorsWithTheirPlace) {
  struct Case {
    const char* name;
    std::string text;
    std::string message_end;
  };
  const Case cases[] = {
      {"syntax error", "network = \n", ""},
      {"missing network", "name = \"lab\"\n", "missing field `network`"},
      {"wrong value type", "network = [1]\n", "invalid type: array, expected a string"},
      {"reader rule", network("10.44.0.0/24") + node(kKeyA, "10.44.0.1", "a") + node(kKeyB, "10.44.0.1", "b"),
       "duplicate IP address: 10.44.0.1"},
  };
  for (const Case& c : cases) {
    auto config = NetworkConfig::try_from(c.text);
    ASSERT_FALSE(config) << c.name;
    ASSERT_TRUE(std::holds_alternative<ConfigError::TomlError>(config.error().kind)) << c.name;
    const std::string text = display(config.error());
    EXPECT_TRUE(text.starts_with("TOML deserialization error: ")) << c.name << ": " << text;
    EXPECT_TRUE(text.ends_with(c.message_end)) << c.name << ": " << text;
  }
  // A positioned error shows the offending line of the document.
  auto duplicate = NetworkConfig::try_from(cases[3].text);
  EXPECT_NE(display(duplicate.error()).find("line 6"), std::string::npos) << display(duplicate.error());
}

}  // namespace
}  // namespace valdori::network::config
