#include "util/text/utf8.hpp"

#include <string>

#include <gtest/gtest.h>

namespace valdori::util::text {
namespace {

TEST(Utf8, AcceptsWellFormedAndRejectsEverythingElse) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {std::string("a\0b", 3), true},
      {"\xc3\xa9", true},           // U+00E9
      {"\xe2\x82\xac", true},       // U+20AC
      {"\xf0\x9f\x98\x80", true},   // U+1F600
      {"\xf4\x8f\xbf\xbf", true},   // U+10FFFF
      {"\x80", false},              // lone continuation
      {"\xc3", false},              // truncated
      {"\xc0\xaf", false},          // overlong "/"
      {"\xe0\x80\xaf", false},      // overlong
      {"\xf0\x80\x80\xaf", false},  // overlong
      {"\xed\xa0\x80", false},      // surrogate U+D800
      {"\xf4\x90\x80\x80", false},  // above U+10FFFF
      {"\xff", false},
      {"\xe2\x28\xa1", false},  // bad continuation
      {"ok\xc3\xa9then\xff", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
}

}  // namespace
}  // namespace valdori::util::text
