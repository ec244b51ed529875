// The controller's reply to the request for this node's networks, as a housekeeping pass takes
// it: the UTF-8 check of the client, the TOML document, the list of networks by id, and what this
// node derives from each listed network. The controller's networks are not checked as documents
// from other sources are, so their derived lists meet whatever the controller wrote.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/agent/housekeeping/controller_network_list.hpp"
#include "agent/controller/client.hpp"
#include "fuzz/network_views.hpp"
#include "util/text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  if (!util::text::is_valid_utf8(body)) return 0;  // the client refuses the reply before this
  auto document = controller::decode_toml_reply(body);
  if (!document) {
    (void)document.error().to_string();
    return 0;
  }
  const auto listed = agent::housekeeping::list_controller_networks(std::move(*document));
  if (!listed) {
    (void)listed.error().to_string();
    return 0;
  }
  for (const auto& [url, network] : *listed) fuzz::derive_views(network);
  return 0;
}
