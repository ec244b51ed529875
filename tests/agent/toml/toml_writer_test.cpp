#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/toml/document.hpp"
#include "agent/toml/field.hpp"
#include "agent/toml/string_literal.hpp"
#include "agent/toml/writer.hpp"

namespace valdori::agent::toml_doc {
namespace {

TEST(TomlWriter, EscapesEveryCharacterTomlCannotHoldLiterally) {
  struct Case {
    std::string text;
    const char* literal;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir", "\"C:\\\\dir\""},
      {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"\x1f\x7f", "\"\\u001F\\u007F\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
  };
  for (const Case& c : cases) EXPECT_EQ(string_literal(c.text), c.literal) << c.literal;
  EXPECT_EQ(string_literal("bad \xff byte"), std::nullopt);
}

TEST(TomlWriter, StringsSurviveARoundTripThroughTheParser) {
  std::string every_byte;
  for (int c = 0; c < 0x80; ++c) every_byte.push_back(static_cast<char>(c));
  const std::vector<std::string> texts = {every_byte, "\xe2\x82\xac \xf0\x9f\x98\x80", "", "'''\"\"\""};
  for (const std::string& text : texts) {
    DocumentWriter w;
    w.string("v", text);
    const std::string doc_text = std::move(w).finish().value();
    auto doc = parse_document(doc_text);
    ASSERT_TRUE(doc.has_value()) << doc_text;
    EXPECT_EQ(read_required<std::string>(*doc, "v").value(), text);
  }
}

}  // namespace
}  // namespace valdori::agent::toml_doc
