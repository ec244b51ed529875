#include "tools/super_peer/server/link_table.hpp"

#include "p2p_core/net/source_rate_limiter.hpp"
#include "tools/super_peer/server/tcp_link.hpp"

namespace valdori::super_peer {

LinkTable::LinkTable(std::size_t max_links, std::size_t max_links_per_group)
    : max_links_(max_links), max_links_per_group_(max_links_per_group) {}

LinkTable::Admission LinkTable::admit(const std::shared_ptr<TcpLink>& link) {
  const auto group = p2p::net::source_group(link->remote().address());
  const auto same_group = per_group_.find(group);
  if (same_group != per_group_.end() && same_group->second >= max_links_per_group_) return {Verdict::GroupFull, {}};
  std::shared_ptr<TcpLink> displaced;
  if (entries_.size() >= max_links_) {
    if (unproven_.empty()) return {Verdict::TableFull, {}};
    displaced = unproven_.front();
    remove(*displaced);
  }
  ++per_group_[group];
  entries_.emplace(link.get(), Entry{group, unproven_.insert(unproven_.end(), link), link});
  return {Verdict::Admitted, std::move(displaced)};
}

void LinkTable::prove(const TcpLink& link) {
  const auto it = entries_.find(&link);
  if (it == entries_.end() || !it->second.unproven) return;
  unproven_.erase(*it->second.unproven);
  it->second.unproven.reset();
}

void LinkTable::remove(const TcpLink& link) {
  const auto it = entries_.find(&link);
  if (it == entries_.end()) return;
  if (it->second.unproven) unproven_.erase(*it->second.unproven);
  if (const auto group = per_group_.find(it->second.group); --group->second == 0) per_group_.erase(group);
  entries_.erase(it);
}

std::list<std::shared_ptr<TcpLink>> LinkTable::release_all() {
  std::list<std::shared_ptr<TcpLink>> all;
  for (auto& [key, entry] : entries_) all.push_back(std::move(entry.link));
  entries_.clear();
  per_group_.clear();
  unproven_.clear();
  return all;
}

}  // namespace valdori::super_peer
