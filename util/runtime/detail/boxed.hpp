// Wraps an awaitable's result so that it is default-constructible (as co_spawn and
// parallel_group need for the result slot of a failed operation), and void becomes a value.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include <boost/asio/awaitable.hpp>

namespace valdori::util::detail {

template <typename T>
struct Boxed {
  using type = std::optional<T>;
};
template <>
struct Boxed<void> {
  using type = std::monostate;
};
template <typename T>
using boxed_t = typename Boxed<T>::type;

template <typename T>
boost::asio::awaitable<boxed_t<T>> boxed(boost::asio::awaitable<T> task) {
  if constexpr (std::is_void_v<T>) {
    co_await std::move(task);
    co_return std::monostate{};
  } else {
    co_return std::optional<T>(std::in_place, co_await std::move(task));
  }
}

}  // namespace valdori::util::detail
