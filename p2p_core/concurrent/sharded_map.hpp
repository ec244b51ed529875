// A concurrent hash map split into shards, each a flat map behind a reader-writer lock of its
// own. A lookup holds one shard's read lock while it copies one entry; a writer holds one
// shard's write lock while it changes one entry. Nothing ever locks the whole map: a walk copies
// the shards one after another, so it sees each shard at one moment, not the map as a whole.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

namespace valdori::p2p::concurrent {

template <class K, class V, class Hash = std::hash<K>>
class ShardedMap {
 public:
  static constexpr std::size_t kShards = 64;  // shard_index takes the top 6 bits

  // Room for `expected_entries` spread over the shards.
  explicit ShardedMap(std::size_t expected_entries = 0) {
    for (auto& shard : shards_) shard.map.reserve(expected_entries / kShards);
  }
  ShardedMap(const ShardedMap&) = delete;
  ShardedMap& operator=(const ShardedMap&) = delete;

  std::optional<V> find(const K& key) const {
    const Shard& shard = shard_for(key);
    const std::shared_lock lock(shard.mutex);
    const auto it = shard.map.find(key);
    if (it == shard.map.end()) return std::nullopt;
    return it->second;
  }

  std::size_t size() const { return size_.load(std::memory_order_relaxed); }

  // Stores `value` unless the key has an entry; returns whether it was stored.
  bool insert(const K& key, V value) { return insert_if_absent(key, std::move(value)).second; }

  // Stores `value` unless the key has an entry; returns the entry stored in the end and whether
  // it is `value`.
  std::pair<V, bool> insert_if_absent(const K& key, V value) {
    Shard& shard = shard_for(key);
    const std::unique_lock lock(shard.mutex);
    const auto [it, inserted] = shard.map.try_emplace(key, std::move(value));
    if (inserted) size_.fetch_add(1, std::memory_order_relaxed);
    return {it->second, inserted};
  }

  void insert_or_assign(const K& key, V value) {
    Shard& shard = shard_for(key);
    const std::unique_lock lock(shard.mutex);
    const auto it = shard.map.find(key);
    if (it != shard.map.end()) {
      std::swap(it->second, value);  // the old value is released after the lock
      return;
    }
    shard.map.emplace(key, std::move(value));
    size_.fetch_add(1, std::memory_order_relaxed);
  }

  // Removes the entry under `key` if `remove(value)` holds; returns whether it was removed.
  template <class Predicate>
  bool erase_if(const K& key, Predicate&& remove) {
    std::optional<V> removed;  // released after the lock
    Shard& shard = shard_for(key);
    const std::unique_lock lock(shard.mutex);
    const auto it = shard.map.find(key);
    if (it == shard.map.end() || !remove(std::as_const(it->second))) return false;
    removed = std::move(it->second);
    shard.map.erase(it);
    size_.fetch_sub(1, std::memory_order_relaxed);
    return true;
  }

  std::vector<std::pair<K, V>> snapshot() const {
    std::vector<std::pair<K, V>> entries;
    entries.reserve(size());
    for (const auto& shard : shards_) {
      const std::shared_lock lock(shard.mutex);
      entries.insert(entries.end(), shard.map.begin(), shard.map.end());
    }
    return entries;
  }

 private:
  struct alignas(64) Shard {
    mutable std::shared_mutex mutex;
    boost::unordered_flat_map<K, V, Hash> map;
  };

  // The top bits of the key's hash, mixed, so that keys alike in their low bits still spread.
  static std::size_t shard_index(const K& key) {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(Hash{}(key)) * 0x9E3779B97F4A7C15ull) >> 58);
  }
  Shard& shard_for(const K& key) { return shards_[shard_index(key)]; }
  const Shard& shard_for(const K& key) const { return shards_[shard_index(key)]; }

  std::array<Shard, kShards> shards_;
  std::atomic<std::size_t> size_{0};
};

}  // namespace valdori::p2p::concurrent
