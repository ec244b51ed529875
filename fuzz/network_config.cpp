// Network configuration documents: the single-network document with its checks, the
// controller's multi-network document, and everything this node derives from a network that
// passed (access rules, routes, forwardings, host names and their texts) for each of its nodes
// and for a key that is no node.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/network/config/config_error.hpp"
#include "agent/network/config/network_config.hpp"
#include "agent/network/config/network_config_reader.hpp"
#include "agent/toml/document.hpp"
#include "fuzz/network_views.hpp"
#include "util/text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  using namespace valdori::network::config;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!valdori::util::text::is_valid_utf8(text)) return 0;

  if (const auto multi = parse_multi_network_config(text); !multi) {
    (void)valdori::agent::toml_doc::render(multi.error(), text);
  }
  const auto config = NetworkConfig::try_from(text);
  if (!config) {
    (void)display(config.error());
    return 0;
  }
  derive_views(*config);
  return 0;
}
