// A small map read without locks: every reader works on an immutable snapshot, every writer
// publishes a changed copy (atomic_snapshot.hpp). Meant for the few paths of one peer and
// similar tables that are walked often and changed rarely; lookups are by the map's own hash.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "p2p_core/concurrent/atomic_snapshot.hpp"

namespace valdori::p2p::concurrent {

template <class K, class V, class Hash = std::hash<K>>
class SnapshotMap {
 public:
  using Map = boost::unordered_flat_map<K, V, Hash>;

  std::shared_ptr<const Map> snapshot() const { return map_.load(); }

  std::optional<V> find(const K& key) const {
    const auto map = snapshot();
    const auto it = map->find(key);
    if (it == map->end()) return std::nullopt;
    return it->second;
  }

  std::size_t size() const { return snapshot()->size(); }

  // The value stored under `key`, inserting `make()` when there is none and the map holds fewer
  // than `limit` entries. Returns the value (absent when the limit refused it) and whether it is new.
  template <class Make>
  std::pair<std::optional<V>, bool> get_or_insert(const K& key, Make&& make,
                                                  std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    if (auto found = find(key)) return {std::move(found), false};
    std::optional<V> value;
    bool inserted = false;
    map_.update([&](Map& map) {
      if (const auto it = map.find(key); it != map.end()) {
        value = it->second;
        inserted = false;
        return false;
      }
      if (map.size() >= limit) {
        value.reset();
        inserted = false;
        return false;
      }
      if (!inserted) value = make();  // made once even when the publication is retried
      map.emplace(key, *value);
      inserted = true;
      return true;
    });
    return {std::move(value), inserted};
  }

  // Removes every entry for which `remove(key, value)` holds; returns the removed keys.
  template <class Predicate>
  std::vector<K> erase_if(Predicate&& remove) {
    std::vector<K> removed;
    map_.update([&](Map& map) {
      removed.clear();
      for (const auto& [key, value] : map)
        if (remove(key, value)) removed.push_back(key);
      for (const auto& key : removed) map.erase(key);
      return !removed.empty();
    });
    return removed;
  }

  void clear() {
    map_.update([](Map& map) {
      if (map.empty()) return false;
      map.clear();
      return true;
    });
  }

 private:
  AtomicSnapshot<Map> map_;
};

}  // namespace valdori::p2p::concurrent
