// The debug forms of texts and optional values as status reports and logs show them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace valdori::util::text {

// A text in double quotes, with quotes, backslashes and control characters escaped so that one
// value always stays on one line.
// "\"a\\\"b\\n\"" for a"b<LF>: \" \\ \0 \t \r \n by name, other control characters as
// \u{hex}, bytes that are not UTF-8 as \x{hex}; everything else unchanged.
std::string debug_string(std::string_view text);

// "None", or "Some(" with the value's own form and ")". `form` renders a present value, for
// example as its debug form.
template <class T, class Form>
std::string debug_optional(const std::optional<T>& value, Form&& form) {
  if (!value) return "None";
  return "Some(" + std::string(std::forward<Form>(form)(*value)) + ")";
}

}  // namespace valdori::util::text
