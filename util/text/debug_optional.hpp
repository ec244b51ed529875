// The debug form of an optional value as logs print it: "None", or "Some(" with the value's own
// form and ")".
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace valdori::util::text {

// `form` renders a present value, for example as its debug form.
template <class T, class Form>
std::string debug_optional(const std::optional<T>& value, Form&& form) {
  if (!value) return "None";
  return "Some(" + std::string(std::forward<Form>(form)(*value)) + ")";
}

}  // namespace valdori::util::text
