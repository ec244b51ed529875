#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "util/text/debug_string.hpp"

namespace valdori::util::text {
namespace {

// The debug form, and the form of text from outside among the system's own, cut to a width.
TEST(DebugString, QuotesAndEscapes) {
  struct Case {
    std::string text;
    std::string debug;
    std::string escaped;
    std::size_t width = kShownWidth;
  };
  const std::string widest(kShownWidth, 'w');
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
      {"\xD8\x9C\xE2\x80\x8E\xE2\x80\x8F\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE"
       "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9\xC2\x80\xC2\x9F",
       "\"\\u{61c}\\u{200e}\\u{200f}\\u{202a}\\u{202b}\\u{202c}\\u{202d}\\u{202e}\\u{2066}\\u{2067}\\u{2068}\\u{2069}"
       "\\u{80}\\u{9f}\"",
       "\\xd8\\x9c\\xe2\\x80\\x8e\\xe2\\x80\\x8f\\xe2\\x80\\xaa\\xe2\\x80\\xab\\xe2\\x80\\xac\\xe2\\x80\\xad"
       "\\xe2\\x80\\xae\\xe2\\x81\\xa6\\xe2\\x81\\xa7\\xe2\\x81\\xa8\\xe2\\x81\\xa9\\xc2\\x80\\xc2\\x9f"},
      // Cut where a character, a stray byte and its escape end, with what was left out.
      {widest, "\"" + widest + "\"", widest},
      {widest + "\xC3\xA9", "\"" + widest + "\"... (2 more bytes)", widest + "... (2 more bytes)"},
      {"ab\xC3\xA9\n\x9B", "\"ab\"... (4 more bytes)", "ab... (4 more bytes)", 3},
      {"ab\n\x9B!", "\"ab\\n\\x{9b}\"... (1 more byte)", "ab\\n\\x9b... (1 more byte)", 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(debug_string(c.text, c.width), c.debug) << c.debug;
    EXPECT_EQ(escape_controls(c.text, c.width), c.escaped) << c.debug;
  }
}

}  // namespace
}  // namespace valdori::util::text
