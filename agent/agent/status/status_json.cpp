#include "agent/agent/status/status_json.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>

#include "agent/json/network_values.hpp"
#include "agent/json/overlay_values.hpp"
#include "agent/json/record.hpp"

namespace valdori::agent::json_doc {
namespace {

using Json = nlohmann::ordered_json;

auto field_context(const Label& label, std::string_view name) {
  return [=] { return fmt::format("{} {}: field `{}`", label.kind, label.name, name); };
}

// The member `name` of an object, which must be there, as an M.
template <class M>
M required(const Json& object, const Label& label, std::string_view name) {
  const auto found = object.find(std::string(name));
  if (found == object.end()) fail(fmt::format("{} {}: missing field `{}`", label.kind, label.name, name));
  return within([&] { return Codec<M>::decode(*found); }, field_context(label, name));
}

// Decodes `fields` of `object` into `out`, whose other members are already set.
template <class T, class... F>
void decode_into(const Json& object, const Label& label, const std::tuple<F...>& fields, T& out) {
  std::apply([&](const auto&... each) { (decode_field(object, label, each, out), ...); }, fields);
}

// An enum whose variants carry nothing, as the variant's name. Codec<E> names the enum (`kName`)
// and its variants in the order of the enumerators' values 0, 1, ... (`kVariants`).
template <class E>
struct UnitEnumCodec {
  static E decode(const Json& value) {
    if (!value.is_string()) invalid_type(value, fmt::format("enum {}", Codec<E>::kName));
    const auto& text = value.get_ref<const std::string&>();
    const auto found = std::ranges::find(Codec<E>::kVariants, text);
    if (found == Codec<E>::kVariants.end()) fail(fmt::format("enum {}: unknown variant `{}`", Codec<E>::kName, text));
    return static_cast<E>(found - Codec<E>::kVariants.begin());
  }
  template <class J>
  static J encode(E value) {
    return std::string(Codec<E>::kVariants[static_cast<std::size_t>(value)]);
  }
};

// A record whose `kind` is a std::variant of empty structs and structs holding a `message`,
// externally tagged: the name of an empty one, {"Name": "message"} for the others. Codec<T> names
// the enum and the alternatives in their order, as UnitEnumCodec.
template <class T>
struct TaggedEnumCodec {
  using Variant = decltype(T::kind);

  template <std::size_t I>
  static Variant alternative(const Json* body) {
    using Alt = std::variant_alternative_t<I, Variant>;
    const std::string_view name = Codec<T>::kName;
    const std::string_view variant = Codec<T>::kVariants[I];
    if constexpr (requires(Alt alt) { alt.message; }) {
      if (body == nullptr) {
        fail(fmt::format("invalid type: unit variant, expected newtype variant {}::{}", name, variant));
      }
      return Alt{within([&] { return Codec<std::string>::decode(*body); },
                        [&] { return fmt::format("enum {}: variant `{}`", name, variant); })};
    } else {
      if (body != nullptr && !body->is_null()) invalid_type(*body, fmt::format("unit variant {}::{}", name, variant));
      return Alt{};
    }
  }

  template <std::size_t... I>
  static Variant alternative_at(std::size_t index, const Json* body, std::index_sequence<I...>) {
    Variant out;
    (void)((index == I ? (out = alternative<I>(body), true) : false) || ...);
    return out;
  }

  static T decode(const Json& value) {
    const Json* body = nullptr;
    std::string tag;
    if (value.is_string()) {
      tag = value.get<std::string>();
    } else if (value.is_object() && value.size() == 1) {
      tag = value.begin().key();
      body = &value.begin().value();
    } else {
      invalid_type(value, fmt::format("enum {}", Codec<T>::kName));
    }
    const auto& variants = Codec<T>::kVariants;
    const auto found = std::ranges::find(variants, tag);
    if (found == variants.end()) fail(fmt::format("enum {}: unknown variant `{}`", Codec<T>::kName, tag));
    return T{alternative_at(found - variants.begin(), body, std::make_index_sequence<std::variant_size_v<Variant>>())};
  }

  template <class J>
  static J encode(const T& value) {
    const std::string variant(Codec<T>::kVariants[value.kind.index()]);
    return std::visit(
        [&](const auto& alt) {
          if constexpr (requires { alt.message; }) {
            return J::object({{variant, alt.message}});
          } else {
            return J(variant);
          }
        },
        value.kind);
  }
};

// A record read and written member by member: Codec<T> names it (`kName`) and lists its fields
// (`kFields`).
template <class T>
struct FieldsCodec {
  static T decode(const Json& value) {
    return decode_fields<T>(value, Label{"struct", Codec<T>::kName}, Codec<T>::kFields);
  }
  template <class J>
  static J encode(const T& record) {
    return encode_fields<J>(record, Codec<T>::kFields);
  }
};

}  // namespace

template <>
struct Codec<agent::status::AgentStatus> : UnitEnumCodec<agent::status::AgentStatus> {
  static constexpr std::string_view kName = "AgentStatus";
  static constexpr std::array<std::string_view, 2> kVariants = {"CONNECTED", "DISCONNECTED"};
};

template <>
struct Codec<p2p::peer::PowStatus> : UnitEnumCodec<p2p::peer::PowStatus> {
  static constexpr std::string_view kName = "PowStatus";
  static constexpr std::array<std::string_view, 3> kVariants = {"Unknw", "Ok", "Nok"};
};

template <>
struct Codec<network::config::Direction> : UnitEnumCodec<network::config::Direction> {
  static constexpr std::string_view kName = "Direction";
  static constexpr std::array<std::string_view, 2> kVariants = {"IN", "OUT"};
};

template <>
struct Codec<network::config::Action> : UnitEnumCodec<network::config::Action> {
  static constexpr std::string_view kName = "Action";
  static constexpr std::array<std::string_view, 2> kVariants = {"Allow", "Deny"};
};

template <>
struct Codec<network::NetworkHealth> : TaggedEnumCodec<network::NetworkHealth> {
  static constexpr std::string_view kName = "NetworkHealth";
  static constexpr std::array<std::string_view, 6> kVariants = {
      "Initializing", "Disabled", "Ok", "Pending", "RetrieveConfigError", "NotAMemberError"};
};

template <>
struct Codec<ControllerConnectionStatus> : TaggedEnumCodec<ControllerConnectionStatus> {
  static constexpr std::string_view kName = "ControllerConnectionStatus";
  static constexpr std::array<std::string_view, 4> kVariants = {"Initializing", "LoggedOut", "Ok", "Err"};
};

// A signed duration: whole seconds (rounded down) and the nanoseconds above them.
template <>
struct Codec<std::chrono::nanoseconds> {
  struct Parts {
    std::int64_t secs = 0;
    std::uint32_t nanos = 0;
  };
  static constexpr auto kFields = std::tuple{field("secs", &Parts::secs), field("nanos", &Parts::nanos)};

  static std::chrono::nanoseconds decode(const Json& value) {
    const auto parts = decode_fields<Parts>(value, Label{"struct", "Duration"}, kFields);
    constexpr std::int64_t kMaxSecs = std::chrono::nanoseconds::max().count() / 1'000'000'000 - 1;
    if (parts.nanos >= 1'000'000'000 || parts.secs > kMaxSecs || parts.secs < -kMaxSecs) {
      invalid_value(value, "a duration within 292 years, with nanos below 1000000000");
    }
    return std::chrono::seconds(parts.secs) + std::chrono::nanoseconds(parts.nanos);
  }
  template <class J>
  static J encode(std::chrono::nanoseconds duration) {
    const auto secs = std::chrono::floor<std::chrono::seconds>(duration);
    return encode_fields<J>(Parts{secs.count(), static_cast<std::uint32_t>((duration - secs).count())}, kFields);
  }
};

template <>
struct Codec<p2p::SecKey> {
  static p2p::SecKey decode(const Json& value) {
    return decode_text(value, "a secret key of 64 hexadecimal digits", p2p::SecKey::from_str);
  }
};

// The secret key, the public key (which must be the secret key's) and the proof of work.
template <>
struct Codec<p2p::Identity> {
  static p2p::Identity decode(const Json& value) {
    const Label label{"struct", "Identity"};
    if (!value.is_object()) invalid_type(value, "struct Identity");
    const p2p::Identity identity(required<p2p::SecKey>(value, label, "sk"),
                                 p2p::Pow::from(required<std::int32_t>(value, label, "pow")));
    if (required<p2p::PubKey>(value, label, "pk") != identity.pk()) {
      within([&] { invalid_value(value.at("pk"), "the public key of `sk`"); }, field_context(label, "pk"));
    }
    return identity;
  }
  template <class J>
  static J encode(const p2p::Identity& id) {
    return J::object({{"sk", id.sk().to_string()}, {"pk", id.pk().to_string()}, {"pow", id.pow().value()}});
  }
};

template <>
struct Codec<p2p::node::NodeOpts> {
  using T = p2p::node::NodeOpts;
  static constexpr Label kLabel{"struct", "NodeOpts"};
  // All but the identity, which comes first, and the message sink, which is not carried.
  static constexpr auto kFields = std::tuple{
      field("arm_messages", &T::arm_messages),
      field("udp_addrs", &T::udp_addrs),
      field("tunnel_interface", &T::tunnel_interface),
      field("udp_port", &T::udp_port),
      field("udp_sockets", &T::udp_sockets),
      field("max_peers", &T::max_peers),
      field("min_pow_difficulty", &T::min_pow_difficulty),
      field("hello_timeout", &T::hello_timeout),
      field("hello_max_age", &T::hello_max_age),
      field("process_unites", &T::process_unites),
      field("housekeeping_interval", &T::housekeeping_interval),
      field("enforce_tcp", &T::enforce_tcp),
      field("super_peers", &T::super_peers),
      field("max_message_len", &T::max_message_len),
  };

  static T decode(const Json& value) {
    if (!value.is_object()) invalid_type(value, "struct NodeOpts");
    T opts{.id = required<p2p::Identity>(value, kLabel, "id"),
           .udp_addrs = {},
           .tunnel_interface = {},
           .udp_port = {},
           .message_sink = std::make_shared<agent::status::StatusMessageSink>()};
    decode_into(value, kLabel, kFields, opts);
    return opts;
  }
  template <class J>
  static J encode(const T& opts) {
    J out = J::object({{"id", Codec<p2p::Identity>::template encode<J>(opts.id)}});
    out.update(encode_fields<J>(opts, kFields));
    return out;
  }
};

template <>
struct Codec<version::VersionInfo> : FieldsCodec<version::VersionInfo> {
  using T = version::VersionInfo;
  static constexpr std::string_view kName = "VersionInfo";
  static constexpr auto kFields =
      std::tuple{field("version", &T::version),         field("git_commit", &T::git_commit),
                 field("git_dirty", &T::git_dirty),     field("build_timestamp", &T::build_timestamp),
                 field("debug_build", &T::debug_build), field("features", &T::features)};
};

// The lists of a network's state, each entry sorted as the status report lists them.
template <>
struct Codec<network::config::EffectiveAccessRule> : FieldsCodec<network::config::EffectiveAccessRule> {
  using T = network::config::EffectiveAccessRule;
  static constexpr std::string_view kName = "EffectiveAccessRule";
  static constexpr auto kFields = std::tuple{field("direction", &T::direction), field("source", &T::source),
                                             field("dest", &T::dest), field("pk", &T::pk), field("action", &T::action)};
};

template <>
struct Codec<network::config::EffectiveRoute> : FieldsCodec<network::config::EffectiveRoute> {
  using T = network::config::EffectiveRoute;
  static constexpr std::string_view kName = "EffectiveRoute";
  static constexpr auto kFields = std::tuple{field("dest", &T::dest), field("gw", &T::gw)};
};

// A list whose map holds each entry under a key of its own: an array of the entries.
template <class List, class Entry, class Key>
struct EntryListCodec {
  static List decode(const Json& value) {
    List list;
    for (auto& entry : Codec<std::vector<Entry>>::decode(value)) {
      const auto key = Key::of(entry);
      (list.*Key::kMap).insert_or_assign(key, std::move(entry));
    }
    return list;
  }
  template <class J>
  static J encode(const List& list) {
    std::vector<Entry> entries;
    for (const auto& [key, entry] : list.*Key::kMap) entries.push_back(entry);
    std::ranges::sort(entries, Key::less);
    return Codec<std::vector<Entry>>::template encode<J>(entries);
  }
};

struct AccessRuleKey {
  static constexpr auto kMap = &network::config::EffectiveAccessRuleList::rules;
  static auto of(const network::config::EffectiveAccessRule& rule) {
    return network::config::EffectiveAccessRuleListEntryKey::of(rule);
  }
  static bool less(const network::config::EffectiveAccessRule& a, const network::config::EffectiveAccessRule& b) {
    return std::tie(a.direction, a.source, a.dest) < std::tie(b.direction, b.source, b.dest);
  }
};

struct RouteKey {
  static constexpr auto kMap = &network::config::EffectiveRoutingList::routes;
  static auto of(const network::config::EffectiveRoute& route) { return route.dest; }
  static bool less(const network::config::EffectiveRoute& a, const network::config::EffectiveRoute& b) {
    return a.dest < b.dest;
  }
};

template <>
struct Codec<network::config::EffectiveAccessRuleList>
    : EntryListCodec<network::config::EffectiveAccessRuleList, network::config::EffectiveAccessRule, AccessRuleKey> {};

template <>
struct Codec<network::config::EffectiveRoutingList>
    : EntryListCodec<network::config::EffectiveRoutingList, network::config::EffectiveRoute, RouteKey> {};

template <>
struct Codec<network::config::EffectiveForwardingList> {
  using T = network::config::EffectiveForwardingList;
  static T decode(const Json& value) {
    T list;
    for (const auto& net : Codec<std::vector<util::net::Ipv4Net>>::decode(value)) list.destinations.insert(net);
    return list;
  }
  template <class J>
  static J encode(const T& list) {
    std::vector<util::net::Ipv4Net> nets(list.destinations.begin(), list.destinations.end());
    std::ranges::sort(nets);
    return Codec<std::vector<util::net::Ipv4Net>>::template encode<J>(nets);
  }
};

// {"10.44.0.1": "web-01", ...}
template <>
struct Codec<network::config::HostnameList> {
  using T = network::config::HostnameList;
  using Sorted = std::map<util::net::Ipv4Addr, std::string>;
  static T decode(const Json& value) {
    T list;
    for (auto& [addr, name] : Codec<Sorted>::decode(value)) list.hostnames.emplace(addr, std::move(name));
    return list;
  }
  template <class J>
  static J encode(const T& list) {
    return Codec<Sorted>::template encode<J>(Sorted(list.hostnames.begin(), list.hostnames.end()));
  }
};

template <class T>
struct Codec<network::AppliedStatus<T>> : FieldsCodec<network::AppliedStatus<T>> {
  static constexpr std::string_view kName = "AppliedStatus";
  static constexpr auto kFields = std::tuple{field("applied", &network::AppliedStatus<T>::applied),
                                             field("error", &network::AppliedStatus<T>::error)};
};

template <>
struct Codec<network::AgentState> : FieldsCodec<network::AgentState> {
  using T = network::AgentState;
  static constexpr std::string_view kName = "AgentState";
  static constexpr auto kFields =
      std::tuple{field("ip", &T::ip), field("access_rules", &T::access_rules), field("routes", &T::routes),
                 field("forwardings", &T::forwardings), field("hostnames", &T::hostnames)};
};

// The status records.
template <>
struct Codec<agent::status::PathStatus> : FieldsCodec<agent::status::PathStatus> {
  using T = agent::status::PathStatus;
  static constexpr std::string_view kName = "PathStatus";
  static constexpr auto kFields = std::tuple{field("hello", &T::hello), field("latencies", &T::latencies),
                                             field("last_ack_src", &T::last_ack_src), field("last_ack", &T::last_ack)};
};

template <>
struct Codec<agent::status::ControllerStatus> : FieldsCodec<agent::status::ControllerStatus> {
  using T = agent::status::ControllerStatus;
  static constexpr std::string_view kName = "ControllerStatus";
  static constexpr auto kFields = std::tuple{
      field("url", &T::url), field("auth_url", &T::auth_url), field("display_login_email", &T::display_login_email),
      field("shared_secret", &T::shared_secret), field("connection_status", &T::connection_status)};
};

template <>
struct Codec<agent::status::SuperPeerStatus> : FieldsCodec<agent::status::SuperPeerStatus> {
  using T = agent::status::SuperPeerStatus;
  static constexpr std::string_view kName = "SuperPeerStatus";
  static constexpr auto kFields = std::tuple{
      field("address", &T::address),    field("resolved_addrs", &T::resolved_addrs), field("tcp_port", &T::tcp_port),
      field("tcp_path", &T::tcp_path),  field("best_udp_path", &T::best_udp_path),   field("udp_paths", &T::udp_paths),
      field("reachable", &T::reachable)};
};

template <>
struct Codec<agent::status::NodePeerStatus> : FieldsCodec<agent::status::NodePeerStatus> {
  using T = agent::status::NodePeerStatus;
  static constexpr std::string_view kName = "NodePeerStatus";
  static constexpr auto kFields = std::tuple{field("pow", &T::pow),
                                             field("created_at", &T::created_at),
                                             field("app_tx", &T::app_tx),
                                             field("app_rx", &T::app_rx),
                                             field("best_direct_path", &T::best_direct_path),
                                             field("direct_paths", &T::direct_paths),
                                             field("best_relay", &T::best_relay),
                                             field("relay_paths", &T::relay_paths),
                                             field("tx_short_id", &T::tx_short_id),
                                             field("rx_short_id", &T::rx_short_id),
                                             field("reachable", &T::reachable)};
};

template <>
struct Codec<agent::status::NetworkStatus> : FieldsCodec<agent::status::NetworkStatus> {
  using T = agent::status::NetworkStatus;
  static constexpr std::string_view kName = "NetworkStatus";
  static constexpr auto kFields =
      std::tuple{field("name", &T::name), field("disabled", &T::disabled), field("health", &T::health),
                 field("current", &T::current), field("desired", &T::desired)};
};

template <>
struct Codec<agent::status::Status> {
  using T = agent::status::Status;
  static constexpr Label kLabel{"struct", "Status"};
  // All but the node options, from which the record is made.
  static constexpr auto kBefore =
      std::tuple{field("version_info", &T::version_info), field("update_available", &T::update_available),
                 field("agent_status", &T::agent_status), field("config_path", &T::config_path)};
  static constexpr auto kAfter =
      std::tuple{field("dns_disabled", &T::dns_disabled),     field("tun_mtu", &T::tun_mtu),
                 field("time_deviation", &T::time_deviation), field("controller", &T::controller),
                 field("default_route", &T::default_route),   field("super_peers", &T::super_peers),
                 field("node_peers", &T::node_peers),         field("networks", &T::networks)};

  static T decode(const Json& value) {
    if (!value.is_object()) invalid_type(value, "struct Status");
    T status(required<p2p::node::NodeOpts>(value, kLabel, "node_opts"));
    decode_into(value, kLabel, kBefore, status);
    decode_into(value, kLabel, kAfter, status);
    return status;
  }
  template <class J>
  static J encode(const T& status) {
    J out = encode_fields<J>(status, kBefore);
    out["node_opts"] = Codec<p2p::node::NodeOpts>::template encode<J>(status.node_opts);
    out.update(encode_fields<J>(status, kAfter));
    return out;
  }
};

}  // namespace valdori::agent::json_doc

namespace valdori::agent::status {

using json_doc::Codec;
using Json = nlohmann::ordered_json;

void to_json(Json& json, AgentStatus status) { json = Codec<AgentStatus>::encode<Json>(status); }
void from_json(const Json& json, AgentStatus& status) { status = Codec<AgentStatus>::decode(json); }
void to_json(Json& json, const ControllerStatus& status) { json = Codec<ControllerStatus>::encode<Json>(status); }
void from_json(const Json& json, ControllerStatus& status) { status = Codec<ControllerStatus>::decode(json); }
void to_json(Json& json, const SuperPeerStatus& status) { json = Codec<SuperPeerStatus>::encode<Json>(status); }
void from_json(const Json& json, SuperPeerStatus& status) { status = Codec<SuperPeerStatus>::decode(json); }
void to_json(Json& json, const NodePeerStatus& status) { json = Codec<NodePeerStatus>::encode<Json>(status); }
void from_json(const Json& json, NodePeerStatus& status) { status = Codec<NodePeerStatus>::decode(json); }
void to_json(Json& json, const NetworkStatus& status) { json = Codec<NetworkStatus>::encode<Json>(status); }
void from_json(const Json& json, NetworkStatus& status) { status = Codec<NetworkStatus>::decode(json); }
void to_json(Json& json, const Status& status) { json = Codec<Status>::encode<Json>(status); }
Status status_from_json(const Json& json) { return Codec<Status>::decode(json); }

}  // namespace valdori::agent::status
