// A status record read from JSON, as a host would read a snapshot it kept. Input: one byte
// choosing the record (modulo their count), then the document. A record that decodes must encode
// to a document that decodes to a record encoding to the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "agent/agent/status/status_json.hpp"
#include "fuzz/record_choice.hpp"

namespace valdori::fuzz {
namespace {

using namespace agent::status;
using Json = nlohmann::ordered_json;

using Records = std::tuple<Status, ControllerStatus, SuperPeerStatus, NodePeerStatus, NetworkStatus, AgentStatus>;

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  read_chosen_record<Records>(data, size, []<class T>(std::string_view text) {
    const Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded()) return;
    try {
      const Json encoded = document.get<T>();
      if (Json(encoded.get<T>()) != encoded) std::abort();
    } catch (const nlohmann::json::exception&) {
    }
  });
  return 0;
}
