#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "agent/toml/document.hpp"
#include "agent/toml/field.hpp"

namespace valdori::agent::toml_doc {
namespace {

::toml::table parse_ok(std::string_view text) {
  auto doc = parse_document(text);
  EXPECT_TRUE(doc.has_value()) << (doc ? "" : doc.error().message);
  return doc ? std::move(*doc) : ::toml::table{};
}

TEST(TomlRead, TypesAreCheckedExactly) {
  const ::toml::table doc =
      parse_ok("s = \"text\"\ni = 7\nf = 1.5\nb = true\nbig = 70000\nneg = -1\narr = [\"a\", \"b\"]\nt = {}\n");
  struct Case {
    const char* key;
    bool as_string, as_bool, as_u16, as_i32;
  };
  const Case cases[] = {
      {"s", true, false, false, false},    {"i", false, false, true, true},    {"f", false, false, false, false},
      {"b", false, true, false, false},    {"big", false, false, false, true}, {"neg", false, false, false, true},
      {"arr", false, false, false, false}, {"t", false, false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_required<std::string>(doc, c.key).has_value(), c.as_string) << c.key;
    EXPECT_EQ(read_required<bool>(doc, c.key).has_value(), c.as_bool) << c.key;
    EXPECT_EQ(read_required<std::uint16_t>(doc, c.key).has_value(), c.as_u16) << c.key;
    EXPECT_EQ(read_required<std::int32_t>(doc, c.key).has_value(), c.as_i32) << c.key;
  }
}

TEST(TomlRead, MessagesNameTheProblem) {
  const ::toml::table doc = parse_ok("[t]\ni = 5\nbig = 70000\ns = \"a\\nb\"\n");
  const auto& t = *doc["t"].as_table();
  EXPECT_EQ(read_required<std::string>(t, "x").error().message, "missing field `x`");
  EXPECT_EQ(read_required<std::string>(t, "i").error().message, "invalid type: integer `5`, expected a string");
  EXPECT_EQ(read_required<std::uint16_t>(t, "big").error().message,
            "invalid value: integer `70000`, expected an integer from 0 to 65535");
  EXPECT_EQ(read_required<bool>(t, "s").error().message, "invalid type: string \"a\\nb\", expected a boolean");
}

TEST(TomlRead, PositionsPointAtTheValueOrTheTable) {
  const ::toml::table doc = parse_ok("a = 1\n\n[t]\nkey =   \"x\"\n");
  const auto& t = *doc["t"].as_table();
  const ReadError type_error = read_required<bool>(t, "key").error();
  ASSERT_TRUE(type_error.position);
  EXPECT_EQ(type_error.position->line, 4u);
  EXPECT_EQ(type_error.position->column, 9u);
  const ReadError missing = read_required<bool>(t, "other").error();
  ASSERT_TRUE(missing.position);
  EXPECT_EQ(missing.position->line, 3u);
}

TEST(TomlRead, SyntaxErrorsAndRepeatedKeysAreErrorsWithPositions) {
  const char* bad[] = {"a = \n", "a = 1\na = 2\n", "[t]\n[t]\n", "a = 99999999999999999999\n", "= 1\n"};
  for (const char* text : bad) {
    auto doc = parse_document(text);
    ASSERT_FALSE(doc.has_value()) << text;
    EXPECT_TRUE(doc.error().position.has_value()) << text;
    EXPECT_FALSE(doc.error().message.empty()) << text;
  }
}

// The line keeps to one line of the terminal and a bounded width: control characters escaped, a
// long line cut around the caret, saying so; the caret stays on its character.
TEST(TomlRead, RenderShowsLineColumnAndTheOffendingLine) {
  const std::string source = "a = 1\nmtu = 70000\nb = 2\n";
  const ::toml::table doc = parse_ok(source);
  // The long line and its rendering are formatted apart, and the renderings are views: GCC 12
  // takes concatenated temporaries inside the array for out of bounds (-O1) and a third string
  // member for uninitialised (-O3).
  const std::string x76(76, 'x');
  // Longer than outside text is shown elsewhere: a quoted line is cut around its caret only.
  const std::string x600(600, 'x');
  const std::string long_line = fmt::format("{}\x01y{}", x600, x600);
  const std::string long_line_rendered =
      fmt::format("TOML parse error at line 1, column 602\n  |\n1 | ...{}\\x01y{}xxx...\n  | {:83}^\nm", x76, x76, "");
  const struct {
    std::string source;
    ReadError error;
    std::string_view rendered;
  } cases[] = {
      {source, read_required<std::uint16_t>(doc, "mtu").error(),
       "TOML parse error at line 2, column 7\n"
       "  |\n"
       "2 | mtu = 70000\n"
       "  |       ^\n"
       "invalid value: integer `70000`, expected an integer from 0 to 65535"},
      {source, {"no place", std::nullopt}, "no place"},
      {"a = 1\rb = 2\n",
       {"saw '\x1b[2J'", ::toml::source_position{1, 6}},
       "TOML parse error at line 1, column 6\n  |\n1 | a = 1\\rb = 2\n  |      ^\nsaw '\\x1b[2J'"},
      {long_line, {"m", ::toml::source_position{1, 602}}, long_line_rendered},
  };
  for (const auto& [text, error, rendered] : cases) EXPECT_EQ(render(error, text), rendered) << text;
}

// The line is read as text: secrets are found in lines that do not parse, inside a multi-line
// string, behind a comment sign; the caret stays on its character, the message quotes no secret.
TEST(TomlRead, RenderMasksTheLinesSecrets) {
  const struct {
    std::string source;
    ReadError error;
    const char* shown;
  } cases[] = {
      {"shared_secret = '''\nhunter2\n'''\n", {"m", ::toml::source_position{2, 3}}, "2 | ****\n  | ^\nm"},
      {"identity.sk = 0x1c5c # note\n",
       {"'0x1c5c' is not representable, saw 'x'", ::toml::source_position{1, 16}},
       "1 | identity.sk = ****\n  |               ^\n'****' is not representable, saw 'x'"},
      {"n = \"\xc3\xa9\" # http://u:pw@h/ x\n",
       {"at u:pw@h", ::toml::source_position{1, 26}},
       "1 | n = \"\xc3\xa9\" # http://****:****@h/ x\n  |                               ^\nat ****:****@h"},
      // A quoted key; a string's escapes and a comment's triple quote, which end or open no
      // string; CRLF line ends; a message without a position.
      {"a = 1\n'shared_secret' = 'hunter2' x\n",
       {"m", ::toml::source_position{2, 29}},
       "2 | 'shared_secret' = '****' ****\n  |                          ^\nm"},
      {"n = \"x\\\"'''\"\nsk = \"hunter2\" x\n",
       {"m", ::toml::source_position{2, 16}},
       "2 | sk = \"****\" ****\n  |             ^\nm"},
      {"a = 1 # \"\"\"\nsk = \"hunter2\" x\n",
       {"m", ::toml::source_position{2, 16}},
       "2 | sk = \"****\" ****\n  |             ^\nm"},
      {"a = 1\r\nn = \"http://u:pw@h/\"\r\n",
       {"m", ::toml::source_position{2, 5}},
       "2 | n = \"http://****:****@h/\"\n  |     ^\nm"},
      {"", {"at http://u:pw@h/", std::nullopt}, "at http://****:****@h/"},
  };
  for (const auto& [source, error, shown] : cases) {
    const std::string rendered = render(error, source);
    const std::size_t header = rendered.find('\n');
    EXPECT_EQ(header == std::string::npos ? rendered : rendered.substr(header + 5), shown) << source;
  }
}

}  // namespace
}  // namespace valdori::agent::toml_doc
