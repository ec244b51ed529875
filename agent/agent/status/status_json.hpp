// The status records as JSON, for hosts and tools that keep or pass a snapshot on:
// `nlohmann::ordered_json(status)` and `json.get<Status>()`. Members carry the records' field
// names in the records' order; keys, addresses and short ids are their text forms, times µs as in
// the records, a duration {"secs", "nanos"}, the enums their variant names (a variant with a text
// as {"RetrieveConfigError": "..."}). The node options' message sink is not carried: a decoded
// snapshot gets a StatusMessageSink. Decoding follows agent/json/record.hpp and names the record
// that a value does not fit: "invalid type: array, expected struct Status",
// "enum AgentStatus: unknown variant `UP`".
#pragma once

#include <nlohmann/json.hpp>

#include "agent/agent/status/status.hpp"

namespace valdori::agent::status {

void to_json(nlohmann::ordered_json& json, AgentStatus status);
void from_json(const nlohmann::ordered_json& json, AgentStatus& status);
void to_json(nlohmann::ordered_json& json, const ControllerStatus& status);
void from_json(const nlohmann::ordered_json& json, ControllerStatus& status);
void to_json(nlohmann::ordered_json& json, const SuperPeerStatus& status);
void from_json(const nlohmann::ordered_json& json, SuperPeerStatus& status);
void to_json(nlohmann::ordered_json& json, const NodePeerStatus& status);
void from_json(const nlohmann::ordered_json& json, NodePeerStatus& status);
void to_json(nlohmann::ordered_json& json, const NetworkStatus& status);
void from_json(const nlohmann::ordered_json& json, NetworkStatus& status);
void to_json(nlohmann::ordered_json& json, const Status& status);
Status status_from_json(const nlohmann::ordered_json& json);

}  // namespace valdori::agent::status

// A Status is made from its node options, so it decodes through a serializer of its own.
NLOHMANN_JSON_NAMESPACE_BEGIN
template <>
struct adl_serializer<valdori::agent::status::Status> {
  static valdori::agent::status::Status from_json(const ordered_json& document) {
    return valdori::agent::status::status_from_json(document);
  }
  static void to_json(ordered_json& document, const valdori::agent::status::Status& status) {
    valdori::agent::status::to_json(document, status);
  }
};
NLOHMANN_JSON_NAMESPACE_END
