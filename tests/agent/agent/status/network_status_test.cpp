// A network's state words and the test for networks the controller provides.
#include <gtest/gtest.h>

#include "agent/agent/status/status.hpp"

namespace valdori::agent::status {
namespace {

using Health = network::NetworkHealth;

TEST(NetworkStatusText, FlagAndHealthGiveTheWords) {
  struct Case {
    bool disabled;
    Health health;
    const char* text;
  };
  const Case cases[] = {
      {true, {Health::Disabled{}}, "Disabled"},
      {true, {Health::Ok{}}, "Disabling..."},
      {true, {Health::Initializing{}}, "Disabling..."},
      {false, {Health::Disabled{}}, "Enabling..."},
      {false, {Health::Initializing{}}, "Initializing..."},
      {false, {Health::Ok{}}, "Ok"},
      {false, {Health::Pending{}}, "Pending"},
      {false, {Health::RetrieveConfigError{"HTTP status 404"}}, "Config Error - HTTP status 404"},
      {false, {Health::NotAMemberError{}}, "Error - Not a Member"},
  };
  for (const auto& c : cases) {
    NetworkStatus network;
    network.disabled = c.disabled;
    network.health = c.health;
    EXPECT_EQ(network.status_text(), c.text) << network::debug(c.health) << " disabled " << c.disabled;
  }
}

TEST(NetworkStatusText, ControllerManagedByTheSchemeAlone) {
  struct Case {
    const char* url;
    bool managed;
  };
  const Case cases[] = {
      {"controller://9f2c", true},   {"CONTROLLER://9f2c", true},  // a scheme is read in lower case
      {"controllers://9f2c", false}, {"https://controller/n.toml", false}, {"file:///controller", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NetworkStatus::is_controller_managed(util::Url::parse(c.url).value()), c.managed) << c.url;
  }
}

}  // namespace
}  // namespace valdori::agent::status
