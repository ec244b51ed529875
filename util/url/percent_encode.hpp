// Percent-encoding and -decoding of URL components, with the encode sets of the URL Standard.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace valdori::util::url {

// Each set includes the one before it, except that the fragment set is not part of the query set.
enum class EncodeSet {
  C0Control,     // C0 controls and everything above U+007E
  Fragment,      // C0Control and space " < > `
  Query,         // C0Control and space " # < >
  SpecialQuery,  // Query and '
  Path,          // Query and ? ^ ` { }
  Userinfo,      // Path and / : ; = @ [ \ ] |
};

bool in_encode_set(char32_t code_point, EncodeSet set);

// Appends the UTF-8 bytes of `code_point`, each byte in `set` as "%XX" (upper-case hex digits).
void utf8_percent_encode(char32_t code_point, EncodeSet set, std::string& out);

// Every "%XX" with two hex digits becomes its byte; any other "%" stays as it is.
std::string percent_decode(std::string_view input);

// The application/x-www-form-urlencoded parser: "&"-separated "name=value" pairs, empty ones
// skipped, "+" read as a space, then percent-decoded ("a=1&b=x+y%21" -> {a, 1}, {b, "x y!"}).
std::vector<std::pair<std::string, std::string>> parse_urlencoded(std::string_view input);

}  // namespace valdori::util::url
