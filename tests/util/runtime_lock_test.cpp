#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/mutex.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/rw_lock.hpp"
#include "util/runtime/task_set.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using testing::wait_until;

// What the waiters of a scenario did, in order.
class Recorder {
 public:
  void granted(const std::string& name) {
    std::lock_guard lock(mutex_);
    granted_.push_back(name);
  }
  void cancelled(const std::string& name) {
    std::lock_guard lock(mutex_);
    cancelled_.push_back(name);
  }
  std::vector<std::string> granted() const {
    std::lock_guard lock(mutex_);
    return granted_;
  }
  std::vector<std::string> cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> granted_;
  std::vector<std::string> cancelled_;
};

// Waits for the lock (unless `abort` is cancelled first), records the grant and holds the lock
// until `release` is cancelled.
template <typename Acquire>
asio::awaitable<void> waiter(Acquire acquire, std::string name, Recorder& rec, CancellationToken abort,
                             CancellationToken release) {
  auto guard = co_await until_cancelled(abort, acquire());
  if (!guard) {
    rec.cancelled(name);
    co_return;
  }
  rec.granted(name);
  co_await release.cancelled();
}

// A scenario: the test holds the lock (write or read), waiters queue up in the given order
// (some are cancelled while queued), the test releases, and the waiters must be granted in
// the given batches, each batch released before the next is expected.
struct Scenario {
  const char* name;
  char initial;                                           // 'R' or 'W': how the test holds the lock at first
  std::vector<std::string> queue;                         // "R1", "W2", ...: mode letter then a name
  std::set<std::string> cancel;                           // queued waiters cancelled before the release
  std::vector<std::set<std::string>> batches_while_held;  // granted after the cancellations
  std::vector<std::set<std::string>> batches;             // granted after the release
};

void run_scenario(const Scenario& sc) {
  SCOPED_TRACE(sc.name);
  Runtime rt(4);
  RwLock lock;
  Recorder rec;
  std::map<std::string, CancellationToken> abort, release;
  std::optional<RwLock::ReadGuard> initial_read;
  std::optional<RwLock::WriteGuard> initial_write;
  if (sc.initial == 'R') {
    initial_read = lock.try_read();
    ASSERT_TRUE(initial_read);
  } else {
    initial_write = lock.try_write();
    ASSERT_TRUE(initial_write);
  }
  for (std::size_t i = 0; i < sc.queue.size(); ++i) {
    const std::string& w = sc.queue[i];
    abort[w];
    release[w];
    auto task = w[0] == 'R' ? waiter([&] { return lock.read(); }, w, rec, abort[w], release[w])
                            : waiter([&] { return lock.write(); }, w, rec, abort[w], release[w]);
    testing::spawn_on_strand(rt.executor(), std::move(task));
    ASSERT_TRUE(wait_until([&] { return lock.queued_waiters() == i + 1 || !rec.granted().empty(); }));
    ASSERT_EQ(lock.queued_waiters(), i + 1) << w << " was not queued";
  }
  std::size_t expected_granted = 0;
  auto expect_batches = [&](const std::vector<std::set<std::string>>& batches) {
    for (const auto& batch : batches) {
      expected_granted += batch.size();
      ASSERT_TRUE(wait_until([&] { return rec.granted().size() >= expected_granted; }));
      auto granted = rec.granted();
      ASSERT_EQ(granted.size(), expected_granted);
      std::set<std::string> last(granted.end() - static_cast<std::ptrdiff_t>(batch.size()), granted.end());
      EXPECT_EQ(last, batch);
      std::size_t cancelled_total = sc.cancel.size();
      EXPECT_EQ(lock.queued_waiters(), sc.queue.size() - cancelled_total - expected_granted);
      for (const auto& name : batch) release[name].cancel();
    }
  };
  for (const auto& name : sc.cancel) abort[name].cancel();
  ASSERT_TRUE(wait_until([&] { return rec.cancelled().size() == sc.cancel.size(); }));
  expect_batches(sc.batches_while_held);
  initial_read.reset();
  initial_write.reset();
  expect_batches(sc.batches);
  // Everything granted and released: the lock is free and nobody is queued.
  ASSERT_TRUE(wait_until([&] { return lock.try_write().has_value(); }));
  EXPECT_EQ(lock.queued_waiters(), 0u);
  auto cancelled = rec.cancelled();
  EXPECT_EQ(std::set<std::string>(cancelled.begin(), cancelled.end()), sc.cancel);
}

TEST(RwLock, GrantsInArrivalOrderWithReadersTogether) {
  const Scenario scenarios[] = {
      {"readers then a writer then readers",
       'W',
       {"R1", "R2", "W3", "R4", "R5", "W6"},
       {},
       {},
       {{"R1", "R2"}, {"W3"}, {"R4", "R5"}, {"W6"}}},
      {"a waiting writer blocks later readers", 'R', {"W1", "R2", "R3", "W4"}, {}, {}, {{"W1"}, {"R2", "R3"}, {"W4"}}},
      {"writers one at a time", 'W', {"W1", "W2", "R3", "W4"}, {}, {}, {{"W1"}, {"W2"}, {"R3"}, {"W4"}}},
      {"alternating", 'R', {"W1", "R2", "W3", "R4"}, {}, {}, {{"W1"}, {"R2"}, {"W3"}, {"R4"}}},
  };
  for (const Scenario& sc : scenarios) run_scenario(sc);
}

TEST(RwLock, CancelledWaitersLeaveTheQueueConsistent) {
  const Scenario scenarios[] = {
      {"a writer between readers", 'W', {"R1", "W2", "R3"}, {"W2"}, {}, {{"R1", "R3"}}},
      {"the head writer while readers hold", 'R', {"W1", "R2", "R3"}, {"W1"}, {{"R2", "R3"}}, {}},
      {"a writer in the middle", 'W', {"W1", "W2", "W3"}, {"W2"}, {}, {{"W1"}, {"W3"}}},
      {"the last waiter", 'W', {"R1", "W2"}, {"W2"}, {}, {{"R1"}}},
      {"every waiter", 'W', {"R1", "W2", "R3"}, {"R1", "W2", "R3"}, {}, {}},
      {"readers around a writer that stays", 'W', {"R1", "W2", "R3"}, {"R1"}, {}, {{"W2"}, {"R3"}}},
  };
  for (const Scenario& sc : scenarios) run_scenario(sc);
}

TEST(RwLock, TryLocksRespectHoldersAndTheQueue) {
  Runtime rt(2);
  RwLock lock;
  {
    auto r1 = lock.try_read();
    auto r2 = lock.try_read();
    ASSERT_TRUE(r1 && r2);
    EXPECT_FALSE(lock.try_write());
    // A queued writer keeps new readers out.
    CancellationToken abort, release;
    Recorder rec;
    testing::spawn_on_strand(rt.executor(), waiter([&] { return lock.write(); }, "W", rec, abort, release));
    ASSERT_TRUE(wait_until([&] { return lock.queued_waiters() == 1; }));
    EXPECT_FALSE(lock.try_read());
    abort.cancel();
    ASSERT_TRUE(wait_until([&] { return lock.queued_waiters() == 0 && rec.cancelled().size() == 1; }));
    EXPECT_TRUE(lock.try_read());
    r1->unlock();
    EXPECT_FALSE(r1->owns_lock());
    EXPECT_FALSE(lock.try_write());  // r2 still reads
  }
  auto w = lock.try_write();
  ASSERT_TRUE(w);
  EXPECT_FALSE(lock.try_read());
  w.reset();
  EXPECT_TRUE(lock.try_read());
}

TEST(RwLock, GuardsOutliveTheLock) {
  Runtime rt(2);
  std::optional<RwLock::WriteGuard> guard;
  {
    RwLock lock;
    guard = rt.block_on(lock.write());
  }
  EXPECT_TRUE(guard->owns_lock());
  guard.reset();
}

// Many threads read, write and give up waiting at once: readers never meet a writer, a writer is
// alone, and the queue is empty and the lock free at the end.
TEST(RwLock, ExcludesAndStaysConsistentUnderManyThreadsWithTimeouts) {
  Runtime rt(8);
  RwLock lock;
  std::atomic<int> readers_inside{0}, writers_inside{0}, violations{0}, granted{0}, timed_out{0};
  TaskSet<void> set(rt.executor());
  for (int m = 0; m < 48; ++m) {
    set.spawn([](RwLock& l, int id, std::atomic<int>& r, std::atomic<int>& w, std::atomic<int>& bad,
                 std::atomic<int>& g, std::atomic<int>& t) -> asio::awaitable<void> {
      for (int i = 0; i < 40; ++i) {
        const auto limit = i % 2 ? std::chrono::microseconds((id * 7 + i * 13) % 500) : std::chrono::microseconds(1h);
        if ((id + i) % 3 == 0) {
          auto guard = co_await with_timeout(l.write(), limit);
          ++(guard ? g : t);
          if (!guard) continue;
          if (++w != 1 || r.load() != 0) ++bad;
          co_await testing::yield_now();
          --w;
        } else {
          auto guard = co_await with_timeout(l.read(), limit);
          ++(guard ? g : t);
          if (!guard) continue;
          ++r;
          if (w.load() != 0) ++bad;
          co_await testing::yield_now();
          --r;
        }
      }
    }(lock, m, readers_inside, writers_inside, violations, granted, timed_out));
  }
  while (auto outcome = rt.block_on(set.join_next())) ASSERT_TRUE(outcome->returned()) << outcome->message;
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(granted.load() + timed_out.load(), 48 * 40);
  EXPECT_EQ(lock.queued_waiters(), 0u);
  EXPECT_TRUE(lock.try_write());
}

// Mutex shares the waiter queue with RwLock: ordering and exclusion are covered there.
TEST(Mutex, AbortedHolderReleasesAndWaitersProceed) {
  Runtime rt(4);
  Mutex mutex;
  CancellationToken never;
  TaskSet<void> holders(rt.executor());
  holders.spawn([](Mutex& mx, CancellationToken t) -> asio::awaitable<void> {
    auto guard = co_await mx.lock();
    co_await t.cancelled();
  }(mutex, never));
  ASSERT_TRUE(wait_until([&] { return never.pending_waits() == 1; }));
  TaskSet<void> waiters(rt.executor());
  for (int i = 0; i < 4; ++i) {
    waiters.spawn([](Mutex& mx) -> asio::awaitable<void> { auto g = co_await mx.lock(); }(mutex));
  }
  ASSERT_TRUE(wait_until([&] { return mutex.queued_waiters() == 4; }));
  holders.abort_all();
  auto h = rt.block_on(holders.join_next());
  ASSERT_TRUE(h && h->aborted());
  for (int i = 0; i < 4; ++i) {
    auto w = rt.block_on(waiters.join_next());
    ASSERT_TRUE(w && w->returned());
  }
}

}  // namespace
}  // namespace valdori::util
