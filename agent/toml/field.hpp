// Typed readers of TOML values with exact type checks: a value is read only as the TOML type its
// field is declared with (an integer never stands in for a string or a float for an integer),
// and integers must fit the field's C++ type.
//
// `ValueReader<T>` turns one node into a T; specialise it to read further types, then use
// `read_required<T>` / `read_optional<T>` on a table's keys. Keys not asked for are ignored.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "agent/toml/document.hpp"

namespace valdori::agent::toml_doc {

template <class T>
struct ValueReader;  // static ReadResult<T> read(const ::toml::node&)

template <>
struct ValueReader<std::string> {
  static ReadResult<std::string> read(const ::toml::node& node) {
    // In place: a text would otherwise also convert to the error type.
    if (const auto* value = node.as_string()) return {boost::system::in_place_value, value->get()};
    return invalid_type(node, "a string");
  }
};

template <>
struct ValueReader<bool> {
  static ReadResult<bool> read(const ::toml::node& node) {
    if (const auto* value = node.as_boolean()) return value->get();
    return invalid_type(node, "a boolean");
  }
};

template <class T>
requires std::integral<T> &&(!std::same_as<T, bool>)struct ValueReader<T> {
  static ReadResult<T> read(const ::toml::node& node) {
    const auto* value = node.as_integer();
    if (value == nullptr) return invalid_type(node, "an integer");
    const std::int64_t v = value->get();
    if (!std::in_range<T>(v)) {
      return invalid_value(
          node, fmt::format("an integer from {} to {}", std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
    }
    return static_cast<T>(v);
  }
};

// Tables and arrays are borrowed from the document; the pointer is never null on success.
template <>
struct ValueReader<const ::toml::table*> {
  static ReadResult<const ::toml::table*> read(const ::toml::node& node) {
    if (const auto* value = node.as_table()) return value;
    return invalid_type(node, "a table");
  }
};

template <>
struct ValueReader<const ::toml::array*> {
  static ReadResult<const ::toml::array*> read(const ::toml::node& node) {
    if (const auto* value = node.as_array()) return value;
    return invalid_type(node, "an array");
  }
};

template <class T>
ReadResult<T> read_value(const ::toml::node& node) {
  return ValueReader<T>::read(node);
}

// A value written as a string in its text form, which `parse` reads. A text that `parse` refuses
// with an error gets that error's own message (its `display`); one it refuses with an empty
// optional is an invalid value, and ValueReader<T> says what the text should be (`kExpected`).
template <class T, auto parse>
struct TextReader {
  static ReadResult<T> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    auto parsed = parse(*text);
    if (parsed) return std::move(*parsed);
    if constexpr (requires { parsed.error(); }) {
      return error_at(node, display(parsed.error()));
    } else {
      return invalid_value(node, ValueReader<T>::kExpected);
    }
  }
};

// Every element of an array, in order; the first bad element ends reading.
template <class T>
struct ValueReader<std::vector<T>> {
  static ReadResult<std::vector<T>> read(const ::toml::node& node) {
    const auto* array = node.as_array();
    if (array == nullptr) return invalid_type(node, "an array");
    std::vector<T> out;
    out.reserve(array->size());
    for (const ::toml::node& element : *array) {
      auto value = read_value<T>(element);
      if (!value) return value.error();
      out.push_back(std::move(*value));
    }
    return out;
  }
};

template <class T>
ReadResult<T> read_required(const ::toml::table& table, std::string_view key) {
  const ::toml::node* node = table.get(key);
  if (node == nullptr) return missing_field(table, key);
  return read_value<T>(*node);
}

template <class T>
ReadResult<std::optional<T>> read_optional(const ::toml::table& table, std::string_view key) {
  const ::toml::node* node = table.get(key);
  if (node == nullptr) return std::optional<T>{};
  auto value = read_value<T>(*node);
  if (!value) return value.error();
  return std::optional<T>{std::move(*value)};
}

}  // namespace valdori::agent::toml_doc
