// Visits a std::variant with one lambda per alternative: std::visit(Overloaded{...}, v).
#pragma once

namespace valdori::util {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
// Written out: not every compiler deduces an aggregate's template arguments yet.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace valdori::util
