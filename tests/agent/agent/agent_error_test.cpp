#include "agent/agent/error.hpp"

#include <cerrno>

#include <gtest/gtest.h>

namespace valdori::agent::error {
namespace {

TEST(AgentError, EveryKindHasItsTextAndCode) {
  struct Case {
    Kind kind;
    const char* text;
    std::int32_t code;
  };
  const Case cases[] = {
      {Kind::HttpClient, "HTTP client error: x", -101},
      {Kind::HttpUri, "HTTP URI error: x", -102},
      {Kind::Hyper, "hyper error: x", -103},
      {Kind::Utf8, "UTF8 error: x", -104},
      {Kind::Io, "I/O error: x", -105},
      {Kind::Toml, "TOML error: x", -106},
      {Kind::Http, "HTTP error: x", -107},
      {Kind::UrlParse, "URL parsing error: x", -108},
      {Kind::Network, "Network error: x", -109},
      {Kind::Identity, "Identity error: x", -110},
      {Kind::Node, "Node error: x", -111},
      {Kind::TomlSerialization, "TOML serialization error: x", -112},
      {Kind::ConfigParse, "Configuration parse error: x", -113},
      {Kind::NetworkAlreadyExists, "Network already exists: x", -114},
      {Kind::NetworkNotFound, "Network not found: x", -115},
      {Kind::UnsupportedTunCreationPlatform, "Unsupported TUN creation platform", -116},
  };
  for (const Case& c : cases) {
    const Error e(c.kind, "x");
    EXPECT_EQ(e.to_string(), c.text);
    EXPECT_EQ(e.code(), c.code) << c.text;
  }
}

TEST(AgentError, LowerErrorsAreCarriedByTheirText) {
  const std::error_code enoent(ENOENT, std::generic_category());
  EXPECT_EQ(Error::io(enoent).to_string(), "I/O error: " + enoent.message());
  const auto identity = p2p::IdentityError::difficulty_too_high(40);
  EXPECT_EQ(Error::identity(identity).to_string(), "Identity error: " + p2p::display(identity));
  const network::config::ConfigError config{network::config::ConfigError::RouteDuplicate{}};
  EXPECT_EQ(Error::network(config).to_string(), "Network error: " + network::config::display(config));
  EXPECT_EQ(Error::network(config).code(), -109);
}

}  // namespace
}  // namespace valdori::agent::error
