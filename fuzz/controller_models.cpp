// A JSON reply of the controller or the authorization server, read as one of their records with
// `decode_json_reply`. Input: one byte choosing the record (modulo their count), then the body.
// A record this system also sends must encode, and its document must decode to a record that
// encodes to the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "agent/controller/api_models.hpp"
#include "agent/controller/auth_models.hpp"
#include "agent/controller/client.hpp"
#include "agent/controller/models.hpp"
#include "fuzz/record_choice.hpp"

namespace valdori::fuzz {
namespace {

using namespace controller::auth;
using namespace controller::models;
using Json = nlohmann::ordered_json;

using Records =
    std::tuple<DeviceAuthorizationResponse, TokenSuccess, UserInfo, TokenError, AuthServerError, NetworkResponse,
               NetworkGroupResponse, NetworkMemberResponse, NetworkNodeResponse, NetworkPolicyResponse,
               NetworkRouteResponse, NodeAuthChallengeResponse, NodeLinkResponse, AddNetworkNodesRequest,
               NetworkNodePayload, CreateNetworkRequest, NetworkGroupPayload, NetworkPolicyPayload, NetworkRoutePayload,
               NodeAuthChallengePayload, NodeLinkRequest, NodeLinkSignature, NodeLinkChallengePayload,
               UpdateNodeMetricsRequest, SuperPeerMetrics, NetworkTrafficMetrics>;

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  read_chosen_record<Records>(data, size, []<class T>(std::string_view body) {
    auto record = valdori::controller::decode_json_reply<T>(body);
    if (!record) {
      (void)record.error().to_string();
      return;
    }
    if constexpr (valdori::agent::json_doc::Sent<T>) {
      const Json sent = *record;
      if (Json(sent.get<T>()) != sent) std::abort();
    }
  });
  return 0;
}
