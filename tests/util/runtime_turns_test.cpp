#include <atomic>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/turns.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using testing::spawn_on_strand;
using testing::wait_until;
using testing::yield_now;

// What the tasks of a scenario saw.
struct Record {
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> finished{0};
  std::mutex mutex;
  std::vector<int> order;
};

// Takes the turn `rounds` times, holding it across a suspension each time.
asio::awaitable<void> take_turns(Turns& turns, Record& record, int task, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    if (!co_await turns.take()) co_return;
    if (record.holders.fetch_add(1) != 0) record.overlaps.fetch_add(1);
    {
      std::lock_guard lock(record.mutex);
      record.order.push_back(task);
    }
    co_await yield_now();
    record.holders.fetch_sub(1);
    turns.pass();
  }
  record.finished.fetch_add(1);
}

// Tasks take turns: one holder at a time, on one thread or several; on one thread, where every
// task asks again before the next pass, the turn goes round in the order the tasks asked for it.
class TurnsTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TurnsTest, OneHolderAtATimeInTheOrderAsked) {
  constexpr int kTasks = 3;
  constexpr int kRounds = 50;
  Runtime rt(GetParam());
  Turns turns(rt.executor());
  Record record;
  // Spawned from one handler, so that on one thread no task runs before all have been spawned.
  asio::post(rt.executor(), [&] {
    for (int task = 0; task < kTasks; ++task) spawn_on_strand(rt.executor(), take_turns(turns, record, task, kRounds));
  });
  ASSERT_TRUE(wait_until([&] { return record.finished.load() == kTasks; }));
  EXPECT_EQ(record.overlaps.load(), 0);
  std::lock_guard lock(record.mutex);
  ASSERT_EQ(record.order.size(), std::size_t{kTasks * kRounds});
  if (GetParam() > 1) return;
  // Once all three wait, each pass goes to the one that has waited longest: a fixed rotation.
  for (std::size_t i = kTasks; i < record.order.size(); ++i) {
    EXPECT_EQ(record.order[i], record.order[i - kTasks]) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, TurnsTest, ::testing::Values(1, 4));

}  // namespace
}  // namespace valdori::util
