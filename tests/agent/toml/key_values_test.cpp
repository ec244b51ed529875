#include <string>

#include <gtest/gtest.h>

#include "agent/toml/document.hpp"
#include "agent/toml/identity_values.hpp"
#include "agent/toml/network_values.hpp"

namespace valdori::agent::toml_doc {
namespace {

const std::string kHex(64, '3');
const std::string kHexOneDigitShort(63, '3');

// The message of reading key `v` of `text` as T, or "ok".
template <class T>
std::string outcome(const std::string& text) {
  auto doc = parse_document(text);
  if (!doc) return "parse: " + doc.error().message;
  auto value = read_required<T>(*doc, "v");
  return value ? "ok" : value.error().message;
}

TEST(KeyValues, KeysAreReadOnlyFromTheirTextForm) {
  struct Case {
    std::string value;
    std::string message;
  };
  const Case cases[] = {
      {"\"" + kHex + "\"", "ok"},
      {"\"" + kHexOneDigitShort + "\"", "Hex error: Invalid hex string length"},
      {"\"" + kHexOneDigitShort + "g\"", "Hex error: Invalid character in hex string: byte 103"},
      {"5", "invalid type: integer `5`, expected a string"},
      {"[\"" + kHex + "\"]", "invalid type: array, expected a string"},
      {"{ k = 1 }", "invalid type: table, expected a string"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome<p2p::PubKey>("v = " + c.value), c.message) << c.value;
    EXPECT_EQ(outcome<p2p::SecKey>("v = " + c.value), c.message) << c.value;
  }
}

TEST(KeyValues, ProofOfWorkIsAnySigned32BitInteger) {
  struct Case {
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {"0", "ok"},
      {"-2147483648", "ok"},
      {"2147483647", "ok"},
      {"2147483648", "invalid value: integer `2147483648`, expected an integer from -2147483648 to 2147483647"},
      {"1.0", "invalid type: floating point `1.0`, expected an integer"},
      {"\"5\"", "invalid type: string \"5\", expected an integer"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome<p2p::Pow>(std::string("v = ") + c.value), c.message) << c.value;
}

}  // namespace
}  // namespace valdori::agent::toml_doc
