#include "util/runtime/task_set.hpp"

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/system/system_error.hpp>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using testing::wait_until;

enum class Behaviour { return_value, throw_error, wait_forever, ignore_abort };

// A member that behaves as told; `started` counts members that began running.
asio::awaitable<int> member(Behaviour behaviour, int value, CancellationToken never, std::atomic<int>& started) {
  ++started;
  switch (behaviour) {
    case Behaviour::return_value: co_await testing::yield_now(); co_return value;
    case Behaviour::throw_error:
      co_await testing::yield_now();
      throw std::runtime_error("member " + std::to_string(value) + " failed");
    case Behaviour::wait_forever: co_await never.cancelled(); co_return -1;
    case Behaviour::ignore_abort: try { co_await never.cancelled();
      } catch (const boost::system::system_error&) {
      }
      co_return value;
  }
  co_return 0;
}

// Joins `n` outcomes, each of which must be an abort; returns their ids.
template <typename T>
std::set<TaskId> join_aborted(Runtime& rt, TaskSet<T>& set, int n) {
  std::set<TaskId> ids;
  for (int i = 0; i < n; ++i) {
    auto outcome = rt.block_on(set.join_next());
    EXPECT_TRUE(outcome && outcome->aborted());
    if (outcome) ids.insert(outcome->id);
  }
  return ids;
}

TEST(TaskSet, ReportsEachOutcome) {
  struct Case {
    const char* name;
    Behaviour behaviour;
    bool abort;
    TaskStatus expected;
    std::optional<int> value;
    std::string message;
  };
  const Case cases[] = {
      {"returns", Behaviour::return_value, false, TaskStatus::returned, 7, ""},
      {"ignores the abort and returns", Behaviour::ignore_abort, true, TaskStatus::returned, 7, ""},
      {"throws", Behaviour::throw_error, false, TaskStatus::failed, std::nullopt, "member 7 failed"},
      {"aborted while waiting", Behaviour::wait_forever, true, TaskStatus::aborted, std::nullopt, ""},
  };
  Runtime rt(4);
  for (const Case& c : cases) {
    CancellationToken never;
    std::atomic<int> started{0};
    TaskSet<int> set(rt.executor());
    const TaskId id = set.spawn(member(c.behaviour, 7, never, started));
    if (c.abort) {
      ASSERT_TRUE(wait_until([&] { return never.pending_waits() == 1; })) << c.name;
      EXPECT_TRUE(set.abort(id));
    }
    auto outcome = rt.block_on(set.join_next());
    ASSERT_TRUE(outcome) << c.name;
    EXPECT_EQ(outcome->id, id) << c.name;
    EXPECT_EQ(outcome->status, c.expected) << c.name;
    EXPECT_EQ(outcome->value, c.value) << c.name;
    EXPECT_EQ(outcome->error != nullptr, c.expected != TaskStatus::returned) << c.name;
    if (c.expected == TaskStatus::failed) {
      EXPECT_EQ(outcome->message, c.message) << c.name;
    }
    if (c.expected != TaskStatus::returned) {
      EXPECT_FALSE(outcome->message.empty()) << c.name;
    }
    if (c.expected == TaskStatus::aborted) {
      // The message is Asio's text for operation_aborted; check the code, not the wording.
      try {
        std::rethrow_exception(outcome->error);
      } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code(), asio::error::operation_aborted) << c.name;
      }
    }
    EXPECT_TRUE(set.empty()) << c.name;
    EXPECT_FALSE(rt.block_on(set.join_next())) << c.name;
    EXPECT_FALSE(set.abort(id)) << c.name;  // no longer running
  }
}

TEST(TaskSet, JoinsInFinishingOrder) {
  Runtime rt(4);
  TaskSet<int> set(rt.executor());
  std::vector<CancellationToken> gates(4);
  std::vector<TaskId> ids;
  for (int i = 0; i < 4; ++i) {
    ids.push_back(set.spawn([](CancellationToken gate, int v) -> asio::awaitable<int> {
      co_await gate.cancelled();
      co_return v;
    }(gates[i], i)));
  }
  ASSERT_TRUE(wait_until([&] {
    for (auto& g : gates) {
      if (g.pending_waits() != 1) return false;
    }
    return true;
  }));
  EXPECT_EQ(set.size(), 4u);
  EXPECT_EQ(set.running(), 4u);
  for (int i : {2, 0, 3, 1}) {
    gates[i].cancel();
    auto outcome = rt.block_on(set.join_next());
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->id, ids[i]);
    EXPECT_TRUE(outcome->returned());
    EXPECT_EQ(outcome->value, i);
  }
  EXPECT_TRUE(set.empty());
}

TEST(TaskSet, AbortBeforeTheMemberStartsStillAborts) {
  Runtime rt(2);
  CancellationToken never;
  std::atomic<int> started{0};
  TaskSet<int> set(rt.executor());
  for (int i = 0; i < 20; ++i) set.spawn(member(Behaviour::wait_forever, i, never, started));
  set.abort_all();  // most likely before any member ran: the abort follows the start on its strand
  set.abort_all();  // idempotent
  EXPECT_EQ(join_aborted(rt, set, 20).size(), 20u);
  EXPECT_EQ(never.pending_waits(), 0u);
}

TEST(TaskSet, DestroyingTheSetAbortsTheRest) {
  Runtime rt(4);
  CancellationToken never;
  std::atomic<int> unwound{0};
  {
    TaskSet<void> set(rt.executor());
    for (int i = 0; i < 8; ++i) {
      set.spawn([](CancellationToken t, std::atomic<int>& count) -> asio::awaitable<void> {
        try {
          co_await t.cancelled();
        } catch (const boost::system::system_error&) {
          ++count;
          throw;
        }
      }(never, unwound));
    }
    ASSERT_TRUE(wait_until([&] { return never.pending_waits() == 8; }));
  }
  ASSERT_TRUE(wait_until([&] { return unwound.load() == 8; }));
  EXPECT_EQ(never.pending_waits(), 0u);
}

TEST(TaskSet, JoinNextIsCancellable) {
  Runtime rt(2);
  CancellationToken never;
  std::atomic<int> started{0};
  TaskSet<int> set(rt.executor());
  set.spawn(member(Behaviour::wait_forever, 1, never, started));
  auto outcome = rt.block_on(with_timeout(set.join_next(), 10ms));
  EXPECT_FALSE(outcome);  // timed out; the member is still there
  EXPECT_EQ(set.size(), 1u);
  set.abort_all();
  auto aborted = rt.block_on(set.join_next());
  ASSERT_TRUE(aborted);
  EXPECT_TRUE(aborted->aborted());
}

TEST(TaskSet, ManyMembersFromManyThreads) {
  Runtime rt(4);
  TaskSet<int> set(rt.executor());
  std::vector<std::thread> spawners;
  for (int t = 0; t < 4; ++t) {
    spawners.emplace_back([&set, t] {
      for (int i = 0; i < 250; ++i) {
        set.spawn([](int v) -> asio::awaitable<int> {
          co_await testing::yield_now();
          co_return v;
        }(t * 1000 + i));
      }
    });
  }
  for (auto& s : spawners) s.join();
  long long sum = 0;
  int count = 0;
  while (auto outcome = rt.block_on(set.join_next())) {
    ASSERT_TRUE(outcome->returned());
    sum += *outcome->value;
    ++count;
  }
  EXPECT_EQ(count, 1000);
  long long expected = 0;
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 250; ++i) expected += t * 1000 + i;
  }
  EXPECT_EQ(sum, expected);
}

}  // namespace
}  // namespace valdori::util
