// Reading records from JSON and writing them back. A record type names its JSON members once, in
// a descriptor found by argument-dependent lookup beside the type:
//
//   constexpr auto json_record(std::type_identity<CreateNetworkRequest>) {
//     return json_doc::sent_record("CreateNetworkRequest", json_doc::field("name", &CreateNetworkRequest::name),
//                                  json_doc::field("network", &CreateNetworkRequest::network));
//   }
//
// and nlohmann's `get<T>()` decodes it (a `sent_record` also converts to JSON). Decoding checks
// types exactly (no number stands in for a text, no float for an integer, integers must fit),
// ignores members it does not know, reads an absent or null member as an empty optional (or as
// the member's default, for a `defaulted` field), and refuses anything else with a DecodeError
// whose text names the expected type (and the field, and the element or member, on the way):
//   "invalid type: array, expected struct CreateNetworkRequest"
//   "struct CreateNetworkRequest: missing field `name`"
//   "struct CreateNetworkRequest: field `network`: invalid value: string \"10.0.0.0\", expected an IPv4 network ..."
//   "struct AddNetworkNodesRequest: field `nodes`: element 1: struct NetworkNodePayload: missing field `hostname`"
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace valdori::agent::json_doc {

// Caught with nlohmann's own errors (a parse error, say) as nlohmann::json::exception.
class DecodeError : public nlohmann::json::exception {
 public:
  // 302: nlohmann's id for a value of the wrong type.
  explicit DecodeError(const std::string& message) : exception(302, message.c_str()) {}
};

[[noreturn]] void fail(const std::string& message);

// Longer texts are not repeated in messages.
inline constexpr std::size_t kShownLength = 64;

// How a value shows up in a message: its JSON type, and the value itself when it is short.
std::string describe(nlohmann::json::value_t type, std::string_view literal);
template <class J>
std::string describe(const J& value) {
  if (!value.is_primitive() || value.is_null()) return describe(value.type(), {});
  if (value.is_string() && value.template get_ref<const typename J::string_t&>().size() > kShownLength) {
    return describe(value.type(), {});
  }
  return describe(value.type(), value.dump(-1, ' ', true, J::error_handler_t::replace));
}

// "member \"eth0\"" (a long key is not shown).
std::string member_context(const std::string& key);

// "invalid type: integer `5`, expected a string"
template <class J>
[[noreturn]] void invalid_type(const J& value, std::string_view expected) {
  fail(fmt::format("invalid type: {}, expected {}", describe(value), expected));
}

// "invalid value: integer `70000`, expected an integer from 0 to 65535"
template <class J>
[[noreturn]] void invalid_value(const J& value, std::string_view expected) {
  fail(fmt::format("invalid value: {}, expected {}", describe(value), expected));
}

// Runs `decode`; a DecodeError it throws gets `context()` put before its text.
template <class Decode, class Context>
auto within(Decode&& decode, Context&& context) {
  try {
    return decode();
  } catch (const DecodeError& e) {
    fail(fmt::format("{}: {}", context(), e.what()));
  }
}

// Decodes and encodes one C++ type: `static T decode(const J&)`, `static J encode(const T&)`.
template <class T>
struct Codec;

template <>
struct Codec<std::string> {
  template <class J>
  static std::string decode(const J& value) {
    if (!value.is_string()) invalid_type(value, "a string");
    return value.template get<std::string>();
  }
  template <class J>
  static J encode(const std::string& text) {
    return text;
  }
};

template <>
struct Codec<bool> {
  template <class J>
  static bool decode(const J& value) {
    if (!value.is_boolean()) invalid_type(value, "a boolean");
    return value.template get<bool>();
  }
  template <class J>
  static J encode(bool flag) {
    return flag;
  }
};

template <class T>
requires std::integral<T> &&(!std::same_as<T, bool>)struct Codec<T> {
  template <class J>
  static T decode(const J& value) {
    if (value.is_number_unsigned()) {
      if (const auto n = value.template get<std::uint64_t>(); std::in_range<T>(n)) return static_cast<T>(n);
    } else if (value.is_number_integer()) {
      if (const auto n = value.template get<std::int64_t>(); std::in_range<T>(n)) return static_cast<T>(n);
    } else {
      invalid_type(value, "an integer");
    }
    invalid_value(
        value, fmt::format("an integer from {} to {}", std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
  }
  template <class J>
  static J encode(T number) {
    return number;
  }
};

// An absent member never reaches here; null is an empty optional wherever it stands.
template <class T>
struct Codec<std::optional<T>> {
  template <class J>
  static std::optional<T> decode(const J& value) {
    if (value.is_null()) return std::nullopt;
    return Codec<T>::decode(value);
  }
  template <class J>
  static J encode(const std::optional<T>& maybe) {
    return maybe ? Codec<T>::template encode<J>(*maybe) : J(nullptr);
  }
};

template <class T>
struct Codec<std::vector<T>> {
  template <class J>
  static std::vector<T> decode(const J& value) {
    if (!value.is_array()) invalid_type(value, "an array");
    std::vector<T> out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
      out.push_back(within([&] { return Codec<T>::decode(value[i]); }, [&] { return fmt::format("element {}", i); }));
    }
    return out;
  }
  template <class J>
  static J encode(const std::vector<T>& elements) {
    J out = J::array();
    for (const T& element : elements) out.push_back(Codec<T>::template encode<J>(element));
    return out;
  }
};

// An object whose members are all of one type, in key order. The key's codec reads and writes
// the member names as JSON strings (a text key is the name itself).
template <class K, class T>
struct Codec<std::map<K, T>> {
  template <class J>
  static std::map<K, T> decode(const J& value) {
    if (!value.is_object()) invalid_type(value, "an object");
    std::map<K, T> out;
    for (auto member = value.begin(); member != value.end(); ++member) {
      const auto context = [&] { return member_context(member.key()); };
      K key = within([&] { return Codec<K>::decode(J(member.key())); }, context);
      out.insert_or_assign(std::move(key), within([&] { return Codec<T>::decode(member.value()); }, context));
    }
    return out;
  }
  template <class J>
  static J encode(const std::map<K, T>& members) {
    J out = J::object();
    for (const auto& [key, member] : members) {
      out[Codec<K>::template encode<J>(key).template get<std::string>()] = Codec<T>::template encode<J>(member);
    }
    return out;
  }
};

// A pair as an array of its two values.
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

enum class Presence {
  Required,
  Defaulted,  // absent or null keeps the member's default
};

template <class Owner, class T>
struct Field {
  std::string_view name;
  T Owner::*member;
  Presence presence;
};

// A member that must be present (an optional one may be absent or null).
template <class Owner, class T>
constexpr Field<Owner, T> field(std::string_view name, T Owner::*member) {
  return {name, member, Presence::Required};
}

template <class Owner, class T>
constexpr Field<Owner, T> defaulted(std::string_view name, T Owner::*member) {
  return {name, member, Presence::Defaulted};
}

// The expected type as messages name it: "struct" and "TokenSuccess".
struct Label {
  std::string_view kind;
  std::string_view name;
};

template <class T>
inline constexpr bool kIsOptional = false;
template <class T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

template <class J, class T, class Owner, class M>
void decode_field(const J& object, Label label, const Field<Owner, M>& field, T& out) {
  const auto member = object.find(std::string(field.name));
  if (member == object.end() || member->is_null()) {
    if constexpr (kIsOptional<M>) {
      (out.*field.member).reset();
      return;
    } else {
      if (field.presence == Presence::Defaulted) return;
      if (member == object.end()) fail(fmt::format("{} {}: missing field `{}`", label.kind, label.name, field.name));
    }
  }
  out.*field.member = within([&] { return Codec<M>::decode(*member); },
                             [&] { return fmt::format("{} {}: field `{}`", label.kind, label.name, field.name); });
}

// A T from a JSON object by the given fields.
template <class T, class J, class... F>
T decode_fields(const J& value, Label label, const std::tuple<F...>& fields) {
  if (!value.is_object()) invalid_type(value, fmt::format("{} {}", label.kind, label.name));
  T out{};
  std::apply([&](const auto&... each) { (decode_field(value, label, each, out), ...); }, fields);
  return out;
}

// Every field in order; absent optionals as null.
template <class J, class T, class... F>
J encode_fields(const T& value, const std::tuple<F...>& fields) {
  J out = J::object();
  const auto put = [&](const auto& each) {
    using M = std::remove_cvref_t<decltype(value.*each.member)>;
    out[std::string(each.name)] = Codec<M>::template encode<J>(value.*each.member);
  };
  std::apply([&](const auto&... each) { (put(each), ...); }, fields);
  return out;
}

template <bool Sent, class... F>
struct Record {
  static constexpr bool sent = Sent;
  std::string_view name;
  std::tuple<F...> fields;
};

// A record this system only receives.
template <class... F>
constexpr Record<false, F...> record(std::string_view name, F... fields) {
  return {name, {fields...}};
}

// A record this system also sends.
template <class... F>
constexpr Record<true, F...> sent_record(std::string_view name, F... fields) {
  return {name, {fields...}};
}

// A record this system only receives, of a type that extends `base`'s: its own `fields` first,
// then the base's.
template <bool S, class... B, class... F>
constexpr auto extended_record(std::string_view name, const Record<S, B...>& base, F... fields) {
  return std::apply([&](auto... inherited) { return record(name, fields..., inherited...); }, base.fields);
}

template <class T>
concept Described = requires {
  json_record(std::type_identity<T>{});
};

template <Described T>
struct Codec<T> {
  static constexpr auto kRecord = json_record(std::type_identity<T>{});

  template <class J>
  static T decode(const J& value) {
    return decode_fields<T>(value, Label{"struct", kRecord.name}, kRecord.fields);
  }
  template <class J>
  requires(kRecord.sent) static J encode(const T& value) { return encode_fields<J>(value, kRecord.fields); }
};

template <class T>
concept Sent = Described<T> && Codec<T>::kRecord.sent;

}  // namespace valdori::agent::json_doc

// nlohmann's hook: `json.get<T>()` and, for sent records, `json = value`.
NLOHMANN_JSON_NAMESPACE_BEGIN
template <valdori::agent::json_doc::Described T>
struct adl_serializer<T, void> {
  template <class J>
  static void from_json(const J& document, T& value) {
    value = valdori::agent::json_doc::Codec<T>::decode(document);
  }
  template <class J>
  requires valdori::agent::json_doc::Sent<T>
  static void to_json(J& document, const T& value) {
    document = valdori::agent::json_doc::Codec<T>::template encode<J>(value);
  }
};
NLOHMANN_JSON_NAMESPACE_END
