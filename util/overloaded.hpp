// Visits a std::variant with one lambda per alternative: std::visit(Overloaded{...}, v).
#pragma once

namespace valdori::util {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

}  // namespace valdori::util
