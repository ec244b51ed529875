// The controller API's networks, their members, nodes, groups, policies and routes, and the
// records of linking a node to a user's account: what the controller answers (responses) and
// what is sent to it (requests and payloads). They carry what a network document carries, under
// plain snake_case names: ids as UUID text, networks and routes' destinations as CIDR text
// ("10.44.0.0/24"), addresses as dotted quads, keys as 64 hexadecimal digits. Decoded with
// `json.get<T>()`; requests and payloads also encode (agent/json/record.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/uuid/uuid.hpp>

#include "agent/controller/auth_models.hpp"
#include "agent/json/network_values.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::controller::models {

using Groups = std::vector<std::string>;  // as sent; an absent list is empty

struct CreateNetworkRequest {
  std::string name;
  util::net::Ipv4Net network;
};

struct NetworkNodePayload {
  p2p::PubKey public_key;
  std::string hostname;
  std::optional<util::net::Ipv4Addr> ip;  // absent: the controller picks a free address
  Groups groups;
};

struct AddNetworkNodesRequest {
  std::vector<NetworkNodePayload> nodes;
};

struct NetworkGroupPayload {
  std::string name;
};

struct NetworkPolicyPayload {
  Groups source_groups;
  Groups destination_groups;
};

struct NetworkRoutePayload {
  util::net::Ipv4Net destination;
  p2p::PubKey gateway;
  Groups groups;  // empty: every node may use the route
};

// Asks the controller for a challenge to link this node.
struct NodeAuthChallengePayload {
  p2p::PubKey node_public_key;
};

// Networks, groups, policies and routes come back as they are sent, all but groups with their ids.
struct NetworkResponse : CreateNetworkRequest {
  boost::uuids::uuid id{};
};

struct NetworkGroupResponse : NetworkGroupPayload {};

// A user with a role in the network ("owner", "admin", "member", ...).
struct NetworkMemberResponse {
  std::string user_id;  // the authorization server's `sub`
  std::optional<std::string> name;
  std::optional<std::string> email;
  std::string role;
};

struct NetworkNodeResponse {
  p2p::PubKey public_key;
  std::string hostname;
  util::net::Ipv4Addr ip;
  Groups groups;
};

struct NetworkPolicyResponse : NetworkPolicyPayload {
  boost::uuids::uuid id{};
};

struct NetworkRouteResponse : NetworkRoutePayload {
  boost::uuids::uuid id{};
};

// The challenge the controller issues for linking a node, under the same fields as the payload
// `auth::build_link_request` signs; it is passed there as it is.
struct NodeAuthChallengeResponse : auth::NodeLinkChallengePayload {};

struct NodeLinkResponse {
  p2p::PubKey node_public_key;
  std::string user_id;
  std::int64_t linked_at = 0;  // Unix seconds, as the challenge's times
};

constexpr auto json_record(std::type_identity<CreateNetworkRequest>) {
  using T = CreateNetworkRequest;
  using namespace agent::json_doc;
  return sent_record("CreateNetworkRequest", field("name", &T::name), field("network", &T::network));
}

constexpr auto json_record(std::type_identity<NetworkNodePayload>) {
  using T = NetworkNodePayload;
  using namespace agent::json_doc;
  return sent_record("NetworkNodePayload", field("public_key", &T::public_key), field("hostname", &T::hostname),
                     field("ip", &T::ip), defaulted("groups", &T::groups));
}

constexpr auto json_record(std::type_identity<AddNetworkNodesRequest>) {
  using namespace agent::json_doc;
  return sent_record("AddNetworkNodesRequest", field("nodes", &AddNetworkNodesRequest::nodes));
}

constexpr auto json_record(std::type_identity<NetworkGroupPayload>) {
  using namespace agent::json_doc;
  return sent_record("NetworkGroupPayload", field("name", &NetworkGroupPayload::name));
}

constexpr auto json_record(std::type_identity<NetworkPolicyPayload>) {
  using T = NetworkPolicyPayload;
  using namespace agent::json_doc;
  return sent_record("NetworkPolicyPayload", field("source_groups", &T::source_groups),
                     field("destination_groups", &T::destination_groups));
}

constexpr auto json_record(std::type_identity<NetworkRoutePayload>) {
  using T = NetworkRoutePayload;
  using namespace agent::json_doc;
  return sent_record("NetworkRoutePayload", field("destination", &T::destination), field("gateway", &T::gateway),
                     defaulted("groups", &T::groups));
}

constexpr auto json_record(std::type_identity<NodeAuthChallengePayload>) {
  using namespace agent::json_doc;
  return sent_record("NodeAuthChallengePayload", field("node_public_key", &NodeAuthChallengePayload::node_public_key));
}

constexpr auto json_record(std::type_identity<NetworkResponse>) {
  using namespace agent::json_doc;
  return extended_record("NetworkResponse", json_record(std::type_identity<CreateNetworkRequest>{}),
                         field("id", &NetworkResponse::id));
}

constexpr auto json_record(std::type_identity<NetworkGroupResponse>) {
  return agent::json_doc::extended_record("NetworkGroupResponse",
                                          json_record(std::type_identity<NetworkGroupPayload>{}));
}

constexpr auto json_record(std::type_identity<NetworkMemberResponse>) {
  using T = NetworkMemberResponse;
  using namespace agent::json_doc;
  return record("NetworkMemberResponse", field("user_id", &T::user_id), field("name", &T::name),
                field("email", &T::email), field("role", &T::role));
}

constexpr auto json_record(std::type_identity<NetworkNodeResponse>) {
  using T = NetworkNodeResponse;
  using namespace agent::json_doc;
  return record("NetworkNodeResponse", field("public_key", &T::public_key), field("hostname", &T::hostname),
                field("ip", &T::ip), defaulted("groups", &T::groups));
}

constexpr auto json_record(std::type_identity<NetworkPolicyResponse>) {
  using namespace agent::json_doc;
  return extended_record("NetworkPolicyResponse", json_record(std::type_identity<NetworkPolicyPayload>{}),
                         field("id", &NetworkPolicyResponse::id));
}

constexpr auto json_record(std::type_identity<NetworkRouteResponse>) {
  using namespace agent::json_doc;
  return extended_record("NetworkRouteResponse", json_record(std::type_identity<NetworkRoutePayload>{}),
                         field("id", &NetworkRouteResponse::id));
}

constexpr auto json_record(std::type_identity<NodeAuthChallengeResponse>) {
  return agent::json_doc::extended_record("NodeAuthChallengeResponse",
                                          json_record(std::type_identity<auth::NodeLinkChallengePayload>{}));
}

constexpr auto json_record(std::type_identity<NodeLinkResponse>) {
  using T = NodeLinkResponse;
  using namespace agent::json_doc;
  return record("NodeLinkResponse", field("node_public_key", &T::node_public_key), field("user_id", &T::user_id),
                field("linked_at", &T::linked_at));
}

}  // namespace valdori::controller::models
