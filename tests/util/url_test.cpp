#include "util/url/url.hpp"

#include <string>
#include <unordered_set>

#include <gtest/gtest.h>

namespace valdori::util {
namespace {

TEST(Url, NormalisesSpellingsOfTheSameResource) {
  struct Case {
    const char* text;
    const char* normal;
  };
  const Case cases[] = {
      {"HTTPS://Example.COM/net", "https://example.com/net"},
      {"https://example.com", "https://example.com/"},
      {"https://example.com:443/x", "https://example.com/x"},
      {"http://example.com:80/x", "http://example.com/x"},
      {"http://example.com:443/x", "http://example.com:443/x"},
      {"https://example.com:0444/x", "https://example.com:444/x"},
      {"https://example.com/a/./b/../c", "https://example.com/a/c"},
      {"https://example.com/a/..", "https://example.com/"},
      {"https://example.com/../../a", "https://example.com/a"},
      {"https://example.com/a/b/.", "https://example.com/a/b/"},
      {"https://example.com/Path?Q=A#F", "https://example.com/Path?Q=A#F"},
      {"https://user:PW@Example.com/", "https://user:PW@example.com/"},
      {"https://user:@example.com/", "https://user@example.com/"},
      {"https://user::@example.com/", "https://user::@example.com/"},
      {"FILE:///etc/net.toml", "file:///etc/net.toml"},
      {"file://localhost/etc/net.toml", "file:///etc/net.toml"},
      {"Controller://Host/Net", "controller://Host/Net"},
  };
  for (const Case& c : cases) {
    auto url = Url::parse(c.text);
    ASSERT_TRUE(url.has_value()) << c.text << ": " << url.error().message;
    EXPECT_EQ(url->as_string(), c.normal) << c.text;
  }
}

TEST(Url, RejectsWhatIsNotAnAbsoluteUrl) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"example.com/net", "relative URL without a base"},
      {"", "relative URL without a base"},
      {"https://", "empty host"},
      {"https:example.com", "empty host"},
      {"https://example.com:70000/", "port out of range"},
      {"https://example.com:8o/x", "invalid authority"},
      {"https://[::1]x/", "invalid authority"},
  };
  for (const Case& c : cases) {
    auto url = Url::parse(c.text);
    ASSERT_FALSE(url.has_value()) << c.text;
    EXPECT_EQ(url.error().message, c.message) << c.text;
  }
  for (const char* text : {"https://exa mple.com/", "ht tp://x/", "https://example.com/\n"}) {
    auto url = Url::parse(text);
    ASSERT_FALSE(url.has_value()) << text;
    EXPECT_TRUE(url.error().message.starts_with("invalid URL: ")) << url.error().message;
  }
}

TEST(Url, EqualAndHashedByNormalForm) {
  std::unordered_set<Url> set;
  EXPECT_TRUE(set.insert(Url::parse("https://Example.com/net").value()).second);
  EXPECT_FALSE(set.insert(Url::parse("HTTPS://example.com:443/net").value()).second);
  EXPECT_TRUE(set.insert(Url::parse("http://example.com/net").value()).second);
  EXPECT_EQ(Url::parse("https://a.example").value(), Url::parse("https://A.example/").value());
  EXPECT_EQ(fmt::format("{}", Url::parse("https://A.example").value()), "https://a.example/");
}

}  // namespace
}  // namespace valdori::util
