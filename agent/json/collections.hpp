// JSON forms of pairs and of maps (agent/json/record.hpp): a pair is an array of its two values, a
// map an object whose member names are the keys' text forms, written in the map's order.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "agent/json/record.hpp"

namespace valdori::agent::json_doc {

template <class A, class B>
struct Codec<std::pair<A, B>> {
  template <class J>
  static std::pair<A, B> decode(const J& value) {
    if (!value.is_array() || value.size() != 2) invalid_type(value, "a tuple of 2 elements");
    return {within([&] { return Codec<A>::decode(value[0]); }, [] { return "element 0"; }),
            within([&] { return Codec<B>::decode(value[1]); }, [] { return "element 1"; })};
  }
  template <class J>
  static J encode(const std::pair<A, B>& pair) {
    return J::array({Codec<A>::template encode<J>(pair.first), Codec<B>::template encode<J>(pair.second)});
  }
};

// The key's codec reads and writes the member name as a JSON string; a name given twice is
// refused, as nlohmann keeps both in an ordered object.
template <class K, class V>
struct Codec<std::map<K, V>> {
  template <class J>
  static std::map<K, V> decode(const J& value) {
    if (!value.is_object()) invalid_type(value, "a map");
    std::map<K, V> out;
    for (const auto& [name, member] : value.items()) {
      const auto context = [&] { return fmt::format("key `{}`", name); };
      K key = within([&] { return Codec<K>::decode(J(name)); }, context);
      V mapped = within([&] { return Codec<V>::decode(member); }, context);
      if (!out.emplace(std::move(key), std::move(mapped)).second) fail(fmt::format("{}: duplicate key", context()));
    }
    return out;
  }
  template <class J>
  static J encode(const std::map<K, V>& map) {
    J out = J::object();
    for (const auto& [key, mapped] : map) {
      out[Codec<K>::template encode<J>(key).template get<std::string>()] = Codec<V>::template encode<J>(mapped);
    }
    return out;
  }
};

}  // namespace valdori::agent::json_doc
