// An immutable longest-prefix-match map from IPv4 networks to values. It is built once through
// `Builder` and then only read: a lookup is a branch-free binary search over the address ranges
// that the networks cut the address space into, with no allocation and no lock.
//
// Networks are keyed by their masked form: 10.0.0.5/24 and 10.0.0.0/24 are the same key.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "util/net/ipv4_net.hpp"

namespace valdori::util::net {
namespace prefix_map_detail {

inline constexpr std::uint32_t kNoEntry = ~std::uint32_t{0};

// A piece of the address space: from `start` up to the next range's start, owned by an entry
// (its longest matching network) or by none (kNoEntry). Start and owner share a cache line, so
// the search that finds the range has the owner too.
struct Range {
  std::uint32_t start;
  std::uint32_t owner;
};
// Ascending by start; the first starts at 0.
using Ranges = std::vector<Range>;

// `networks` must be masked, distinct and sorted ascending by (address, prefix length).
Ranges cut_ranges(std::span<const Ipv4Net> networks);

// The owner of the range holding `addr`.
inline std::uint32_t owner_of(const Ranges& ranges, std::uint32_t addr) noexcept {
  const Range* base = ranges.data();
  std::size_t n = ranges.size();
  while (n > 1) {
    const std::size_t half = n / 2;
    base = base[half].start <= addr ? base + half : base;
    n -= half;
  }
  return base->owner;
}

}  // namespace prefix_map_detail

template <class V>
class Ipv4PrefixMap {
 public:
  struct Entry {
    Ipv4Net net;  // masked
    V value;
  };

  class Builder {
   public:
    // Inserts `value` under `net` unless the network is present already. Returns the stored
    // value (valid until the next insertion) and whether it was inserted.
    template <class... Args>
    std::pair<V&, bool> try_emplace(Ipv4Net net, Args&&... args) {
      auto [it, inserted] = entries_.try_emplace(net.trunc(), std::forward<Args>(args)...);
      return {it->second, inserted};
    }

    Ipv4PrefixMap build() && {
      Ipv4PrefixMap map;
      map.entries_.reserve(entries_.size());
      for (auto& [net, value] : entries_) map.entries_.push_back(Entry{net, std::move(value)});
      entries_.clear();
      std::sort(map.entries_.begin(), map.entries_.end(), [](const Entry& a, const Entry& b) { return a.net < b.net; });
      std::vector<Ipv4Net> networks;
      networks.reserve(map.entries_.size());
      for (const auto& entry : map.entries_) networks.push_back(entry.net);
      map.ranges_ = prefix_map_detail::cut_ranges(networks);
      return map;
    }

   private:
    std::unordered_map<Ipv4Net, V> entries_;
  };

  // An empty map: every lookup misses.
  Ipv4PrefixMap() : ranges_{{0, prefix_map_detail::kNoEntry}} {}

  // The value of the longest network that contains `addr`, or null.
  const V* lookup(Ipv4Addr addr) const noexcept {
    const Entry* entry = lookup_entry(addr);
    return entry ? &entry->value : nullptr;
  }

  // The entry (network and value) of the longest network that contains `addr`, or null.
  const Entry* lookup_entry(Ipv4Addr addr) const noexcept {
    const std::uint32_t owner = prefix_map_detail::owner_of(ranges_, addr.to_uint());
    return owner == prefix_map_detail::kNoEntry ? nullptr : &entries_[owner];
  }

  // The value stored under exactly `net` (masked), or null.
  const V* find_exact(Ipv4Net net) const noexcept {
    const Ipv4Net key = net.trunc();
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, const Ipv4Net& k) { return e.net < k; });
    return it != entries_.end() && it->net == key ? &it->value : nullptr;
  }

  // Every entry, sorted by network address, then prefix length.
  std::span<const Entry> entries() const noexcept { return entries_; }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

 private:
  std::vector<Entry> entries_;
  prefix_map_detail::Ranges ranges_;
};

// A map of networks to prefix maps (outer network, then inner network), under construction.
// Every outer network has one inner map, however many inserts name it.
template <class V>
class TwoLevelPrefixMapBuilder {
 public:
  // The inner map of `outer`; an empty one when `outer` is new.
  typename Ipv4PrefixMap<V>::Builder& inner(Ipv4Net outer) { return outer_[outer.trunc()]; }

  Ipv4PrefixMap<Ipv4PrefixMap<V>> build() && {
    typename Ipv4PrefixMap<Ipv4PrefixMap<V>>::Builder map;
    for (auto& [outer, inner] : outer_) map.try_emplace(outer, std::move(inner).build());
    return std::move(map).build();
  }

 private:
  std::map<Ipv4Net, typename Ipv4PrefixMap<V>::Builder> outer_;
};

}  // namespace valdori::util::net
