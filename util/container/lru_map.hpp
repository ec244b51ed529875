// A map of bounded size that forgets the entry used least recently to make room. Lookups and
// inserts count as use. Tables that strangers fill (key agreements, rate buckets, replay
// records) are bounded with it, so a flood of new keys or addresses costs a fixed amount of
// memory and pushes out what is no longer in use first.
//
// Not synchronised: its owner locks it or keeps it on one executor.
#pragma once

#include <cassert>
#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <utility>

#include <boost/unordered/unordered_flat_map.hpp>

namespace valdori::util {

template <class K, class V, class Hash = std::hash<K>>
class LruMap {
 public:
  using Entry = std::pair<const K, V>;

  explicit LruMap(std::size_t capacity) : capacity_(capacity) { assert(capacity > 0); }
  LruMap(const LruMap&) = delete;
  LruMap& operator=(const LruMap&) = delete;

  std::size_t size() const { return index_.size(); }
  std::size_t capacity() const { return capacity_; }

  // The value under `key`, now the most recently used; null when absent.
  V* find(const K& key) {
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.end(), order_, found->second);
    return &found->second->second;
  }

  // The value under `key`, without counting as use; null when absent.
  V* peek(const K& key) {
    const auto found = index_.find(key);
    return found == index_.end() ? nullptr : &found->second->second;
  }

  // The value under `key`, made by `make()` when absent; now the most recently used. A full map
  // first hands its least recently used entry to `evicted` and forgets it.
  template <class Make, class Evicted>
  V& get_or_insert(const K& key, Make&& make, Evicted&& evicted) {
    if (V* known = find(key)) return *known;
    if (index_.size() == capacity_) {
      evicted(order_.front());
      pop_oldest();
    }
    order_.emplace_back(key, make());
    index_.emplace(key, std::prev(order_.end()));
    return order_.back().second;
  }

  template <class Make>
  V& get_or_insert(const K& key, Make&& make) {
    return get_or_insert(key, std::forward<Make>(make), [](const Entry&) {});
  }

  // The least recently used entry; null when empty.
  const Entry* oldest() const { return order_.empty() ? nullptr : &order_.front(); }
  void pop_oldest() {
    index_.erase(order_.front().first);
    order_.pop_front();
  }

 private:
  using Order = std::list<Entry>;

  std::size_t capacity_;
  Order order_;  // least recently used first
  boost::unordered_flat_map<K, typename Order::iterator, Hash> index_;
};

}  // namespace valdori::util
