#include "agent/network/config/routing_tries.hpp"

#include <algorithm>
#include <vector>

#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/list_text.hpp"
#include "util/log/log.hpp"

namespace valdori::network::config {
namespace {

spdlog::logger& log() { return valdori::log::logger("valdori_agent::network::config"); }

struct TrieRule {
  Ipv4Net outer;
  Ipv4Net inner;
  const EffectiveAccessRule* rule;
};

// Rule keys are unique, so rules only meet in a trie when their networks differ in host bits
// alone (possible in unchecked controller documents). The rules are visited in key order so the
// same one wins every time; the other is dropped with a warning.
RoutingTrie build_trie(const EffectiveAccessRuleList& list, Direction direction) {
  const bool outbound = direction == Direction::OUT;
  std::vector<TrieRule> selected;
  for (const auto& [key, rule] : list.rules) {
    if (rule.direction != direction || rule.action != Action::Allow) continue;
    selected.push_back(outbound ? TrieRule{rule.dest, rule.source, &rule} : TrieRule{rule.source, rule.dest, &rule});
  }
  std::sort(selected.begin(), selected.end(), [](const TrieRule& a, const TrieRule& b) {
    return std::tie(a.outer, a.inner) < std::tie(b.outer, b.inner);
  });

  util::net::TwoLevelPrefixMapBuilder<PubKey> trie;
  for (const auto& r : selected) {
    if (!trie.inner(r.outer).try_emplace(r.inner, r.rule->pk).second) {
      VLOG_WARN(log(), "Dropping access rule that repeats the networks of another: {}", debug(*r.rule));
    }
  }
  return std::move(trie).build();
}

}  // namespace

RoutingTries EffectiveAccessRuleList::routing_tries() const {
  return {build_trie(*this, Direction::OUT), build_trie(*this, Direction::IN)};
}

}  // namespace valdori::network::config
