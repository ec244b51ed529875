// Network configuration documents: the single-network document with its checks, the
// controller's multi-network document, and everything this node derives from a network that
// passed (access rules, routes, forwardings, host names and their texts) for each of its nodes
// and for a key that is no node.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/network/config/config_error.hpp"
#include "agent/network/config/derived_lists.hpp"
#include "agent/network/config/list_text.hpp"
#include "agent/network/config/network_config.hpp"
#include "agent/network/config/network_config_reader.hpp"
#include "agent/toml/document.hpp"
#include "fuzz/fuzz_input.hpp"
#include "util/text/utf8.hpp"

namespace valdori::fuzz {
namespace {

using namespace network::config;

void derive(const NetworkConfig& config, const PubKey& own) {
  if (const auto rules = effective_access_rule_list(config, own)) {
    (void)display(*rules);
    (void)debug(*rules);
  } else {
    (void)display(rules.error());
  }
  if (const auto routes = effective_routing_list(config, own)) {
    (void)display(*routes);
    (void)debug(*routes);
  } else {
    (void)debug(routes.error());
  }
  (void)debug(effective_forwarding_list(config, own));
  const auto names = hostnames(config, own);
  (void)display(names);
  (void)debug(names);
  (void)ip(config, own);
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  static const bool quiet = (quiet_logging(), true);
  (void)quiet;
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
  (void)groups(*config);
  // A few nodes' views are enough to reach every branch; all of a large document's would be slow.
  constexpr std::size_t kViews = 8;
  std::size_t views = 0;
  for (const auto& [key, node] : config->node) {
    if (++views > kViews) break;
    derive(*config, key);
    for (const auto& [other, other_node] : config->node) (void)matching_policy(*config, key, other);
  }
  derive(*config, PubKey());
  return 0;
}
