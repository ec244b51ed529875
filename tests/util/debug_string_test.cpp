#include <string>

#include <gtest/gtest.h>

#include "util/text/debug_string.hpp"

namespace valdori::util::text {
namespace {

// The debug form, and the form of text from outside among the system's own.
TEST(DebugString, QuotesAndEscapes) {
  struct Case {
    std::string text;
    std::string debug;
    std::string escaped;
  };
  const Case cases[] = {
      {"", "\"\"", ""},
      {"plain text", "\"plain text\"", "plain text"},
      {"it's \"quoted\"", "\"it's \\\"quoted\\\"\"", "it's \"quoted\""},
      {"back\\slash", "\"back\\\\slash\"", "back\\slash"},
      {"a\nb\rc\td", "\"a\\nb\\rc\\td\"", "a\\nb\\rc\\td"},
      {std::string("nul\0!", 5), "\"nul\\0!\"", "nul\\x00!"},
      {"bell\x07 esc\x1b del\x7f", "\"bell\\u{7} esc\\u{1b} del\\u{7f}\"", "bell\\x07 esc\\x1b del\\x7f"},
      {"C1 \xC2\x85", "\"C1 \\u{85}\"", "C1 \\xc2\\x85"},
      {"caf\xC3\xA9 \xE2\x84\xAA \xD7\x90\xD8\xA7 \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x84\xAA \xD7\x90\xD8\xA7 \xF0\x9F\x98\x80\"",
       "caf\xC3\xA9 \xE2\x84\xAA \xD7\x90\xD8\xA7 \xF0\x9F\x98\x80"},
      {"bad \xFF byte, cut \xE2\x84", "\"bad \\x{ff} byte, cut \\x{e2}\\x{84}\"", "bad \\xff byte, cut \\xe2\\x84"},
      {"CSI \xC2\x9B and \x9B", "\"CSI \\u{9b} and \\x{9b}\"", "CSI \\xc2\\x9b and \\x9b"},
      {"a\xE2\x80\xA8"
       "b\xE2\x80\xA9",
       "\"a\\u{2028}b\\u{2029}\"", "a\\xe2\\x80\\xa8b\\xe2\\x80\\xa9"},
      {"a\xE2\x80\xAE"
       "b\xE2\x81\xA9",
       "\"a\\u{202e}b\\u{2069}\"", "a\\xe2\\x80\\xaeb\\xe2\\x81\\xa9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(debug_string(c.text), c.debug) << c.debug;
    EXPECT_EQ(escape_controls(c.text), c.escaped) << c.debug;
  }
}

}  // namespace
}  // namespace valdori::util::text
