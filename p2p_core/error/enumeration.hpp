// The shape of the core's error enumerations: one struct per kind, holding that kind's payload,
// kept in a variant whose index is the kind's position in the enumeration.
#pragma once

#include <concepts>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

namespace valdori::p2p {

template <class... Kinds>
class ErrorEnumeration {
 public:
  using Kind = std::variant<Kinds...>;

  // Only because boost::system::result asks for it; holds the first kind.
  ErrorEnumeration() = default;
  // Implicit, so that a kind can be returned where the error is expected.
  template <class K>
  requires(std::same_as<std::remove_cvref_t<K>, Kinds> || ...) ErrorEnumeration(K&& kind)
      : kind_(std::forward<K>(kind)) {}

  std::size_t index() const { return kind_.index(); }
  template <class K>
  bool is() const {
    return std::holds_alternative<K>(kind_);
  }
  template <class K>
  const K* get_if() const {
    return std::get_if<K>(&kind_);
  }
  template <class Visitor>
  decltype(auto) visit(Visitor&& visitor) const {
    return std::visit(std::forward<Visitor>(visitor), kind_);
  }

 private:
  Kind kind_;
};

}  // namespace valdori::p2p
