// Values whose JSON form is a string in their text form (addresses, keys, ids, URLs): a text that
// does not parse is an invalid value.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "agent/json/record.hpp"

namespace valdori::agent::json_doc {

// The parsed text of a string value; a string `parse` refuses (an empty optional or an error
// result) is an invalid value.
template <class J, class Parse>
auto decode_text(const J& value, std::string_view expected, Parse parse) {
  if (!value.is_string()) invalid_type(value, expected);
  if (auto parsed = parse(value.template get_ref<const typename J::string_t&>())) return std::move(*parsed);
  invalid_value(value, expected);
}

template <class T>
std::string member_text(const T& value) {
  return value.to_string();
}

// The codec of such a value: `parse` reads the text, `text` writes it, and Codec<T> says what the
// text should be (`kExpected`, as in "a UUID").
template <class T, auto parse, auto text = &member_text<T>>
struct TextCodec {
  template <class J>
  static T decode(const J& value) {
    return decode_text(value, Codec<T>::kExpected, parse);
  }
  template <class J>
  static J encode(const T& value) {
    return text(value);
  }
};

}  // namespace valdori::agent::json_doc
