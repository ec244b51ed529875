// Visits a std::variant with one lambda per alternative: std::visit(Overloaded{...}, v).
#pragma once

namespace valdori::util {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
// Spelled out for compilers without deduction for aggregates (clang before 17, the fuzz build).
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace valdori::util
