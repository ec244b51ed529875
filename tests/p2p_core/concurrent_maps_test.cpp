// The concurrent containers under many writers: no update may be lost, no entry doubled.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/concurrent/sharded_map.hpp"
#include "p2p_core/concurrent/snapshot_map.hpp"

namespace valdori::p2p::concurrent {
namespace {

constexpr int kThreads = 4;
constexpr int kPerThread = 500;

template <class Body>
void run_threads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&body, t] { body(t); });
  for (auto& thread : threads) thread.join();
}

TEST(ConcurrentContainers, SnapshotUpdatesAreNeverLost) {
  AtomicSnapshot<std::vector<int>> values;
  run_threads([&](int t) {
    for (int i = 0; i < kPerThread; ++i) {
      values.update([&](std::vector<int>& v) {
        v.push_back(t * kPerThread + i);
        return true;
      });
      (void)values.load()->size();
    }
  });
  EXPECT_EQ(values.load()->size(), static_cast<std::size_t>(kThreads * kPerThread));
}

TEST(ConcurrentContainers, SnapshotMapInsertsOnceAndErasesEverything) {
  SnapshotMap<int, int> map;
  std::atomic<int> inserted{0};
  run_threads([&](int) {
    for (int key = 0; key < kPerThread; ++key) {
      if (map.get_or_insert(key, [key] { return key; }).second) ++inserted;
      (void)map.find(key);
    }
  });
  EXPECT_EQ(inserted.load(), kPerThread);  // every key made once, whoever came first
  EXPECT_EQ(map.size(), static_cast<std::size_t>(kPerThread));
  run_threads([&](int t) { map.erase_if([t](int key, int) { return key % kThreads == t; }); });
  EXPECT_EQ(map.size(), 0u);
}

TEST(ConcurrentContainers, ShardedMapCountsAndKeepsTheFirstEntry) {
  ShardedMap<int, int> map;
  std::atomic<int> stored{0};
  run_threads([&](int t) {
    for (int key = 0; key < kPerThread; ++key) {
      if (map.insert(key, t)) ++stored;
      const auto found = map.find(key);
      ASSERT_TRUE(found);
      EXPECT_EQ(map.insert_if_absent(key, -1).first, *found);
    }
  });
  EXPECT_EQ(stored.load(), kPerThread);
  EXPECT_EQ(map.size(), static_cast<std::size_t>(kPerThread));
  EXPECT_EQ(map.snapshot().size(), static_cast<std::size_t>(kPerThread));
  run_threads([&](int t) {
    for (int key = t; key < kPerThread; key += kThreads) EXPECT_TRUE(map.erase_if(key, [](int) { return true; }));
  });
  EXPECT_EQ(map.size(), 0u);
}

}  // namespace
}  // namespace valdori::p2p::concurrent
