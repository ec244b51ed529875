#include "util/runtime/race.hpp"

#include <atomic>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <boost/system/system_error.hpp>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/task_set.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using testing::wait_until;

enum class Op { value_now, throw_now, wait_for_gate };

// An operation that records whether it started and whether it saw cancellation.
struct Probe {
  std::atomic<bool> started{false};
  std::atomic<bool> cancelled{false};
  CancellationToken gate;  // never cancelled unless a case says so
};

asio::awaitable<int> operation(Op op, Probe& probe) {
  probe.started = true;
  switch (op) {
    case Op::value_now: co_return 42;
    case Op::throw_now: throw std::runtime_error("operation failed");
    case Op::wait_for_gate: try { co_await probe.gate.cancelled();
      } catch (const boost::system::system_error&) {
        probe.cancelled = true;
        throw;
      }
      co_return 7;
  }
  co_return 0;
}

asio::awaitable<void> void_operation(Op op, Probe& probe) { co_await operation(op, probe); }

TEST(WithTimeout, DecidesByWhatFinishesFirst) {
  struct Case {
    const char* name;
    Op op;
    std::chrono::milliseconds timeout;
    std::optional<int> expected;
    bool throws;
    bool op_cancelled;
  };
  const Case cases[] = {
      {"value before a long deadline", Op::value_now, 1h, 42, false, false},
      {"deadline before the value", Op::wait_for_gate, 5ms, std::nullopt, false, true},
      {"a failure is rethrown, not taken for a timeout", Op::throw_now, 1h, std::nullopt, true, false},
      {"a zero timeout on a waiting operation", Op::wait_for_gate, 0ms, std::nullopt, false, true},
  };
  Runtime rt(4);
  for (const Case& c : cases) {
    Probe probe;
    std::optional<int> result;
    bool threw = false;
    try {
      result = rt.block_on(with_timeout(operation(c.op, probe), c.timeout));
    } catch (const std::runtime_error& e) {
      threw = true;
      EXPECT_STREQ(e.what(), "operation failed") << c.name;
    }
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_EQ(threw, c.throws) << c.name;
    EXPECT_EQ(probe.cancelled.load(), c.op_cancelled) << c.name;
    EXPECT_EQ(probe.gate.pending_waits(), 0u) << c.name;  // the losing wait is gone
  }
}

TEST(UntilCancelled, DecidesByWhatFinishesFirst) {
  struct Case {
    const char* name;
    Op op;
    bool cancel_before;  // the token is cancelled before the call
    bool cancel_while;   // the token is cancelled while the operation waits
    std::optional<int> expected;
    bool started;
    bool op_cancelled;
  };
  const Case cases[] = {
      {"value first", Op::value_now, false, false, 42, true, false},
      {"cancelled while waiting", Op::wait_for_gate, false, true, std::nullopt, true, true},
      {"already cancelled: not started", Op::value_now, true, false, std::nullopt, false, false},
  };
  Runtime rt(4);
  for (const Case& c : cases) {
    Probe probe;
    CancellationToken token;
    if (c.cancel_before) token.cancel();
    std::thread canceller;
    if (c.cancel_while) {
      canceller = std::thread([&] {
        wait_until([&] { return probe.gate.pending_waits() == 1; });
        token.cancel();
      });
    }
    auto result = rt.block_on(until_cancelled(token, operation(c.op, probe)));
    if (canceller.joinable()) canceller.join();
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_EQ(probe.started.load(), c.started) << c.name;
    EXPECT_EQ(probe.cancelled.load(), c.op_cancelled) << c.name;
    EXPECT_EQ(token.pending_waits(), 0u) << c.name;
    EXPECT_EQ(probe.gate.pending_waits(), 0u) << c.name;
  }
}

// The void forms report whether the operation finished; cancelling a parent reaches a child's race.
TEST(Races, VoidOperationsAndChildTokens) {
  Runtime rt(2);
  Probe done, stuck;
  EXPECT_TRUE(rt.block_on(with_timeout(void_operation(Op::value_now, done), 1h)));
  EXPECT_FALSE(rt.block_on(with_timeout(void_operation(Op::wait_for_gate, stuck), 5ms)));
  CancellationToken root;
  Probe probe;
  std::thread canceller([&] {
    wait_until([&] { return probe.gate.pending_waits() == 1; });
    root.cancel();
  });
  EXPECT_FALSE(rt.block_on(until_cancelled(root.child_token(), void_operation(Op::wait_for_gate, probe))));
  canceller.join();
  EXPECT_TRUE(probe.cancelled && stuck.cancelled);
}

TEST(Races, AnAbortFromOutsideReachesTheOperation) {
  Runtime rt(4);
  Probe probe;
  TaskSet<std::optional<int>> set(rt.executor());
  set.spawn(with_timeout(operation(Op::wait_for_gate, probe), 1h));
  ASSERT_TRUE(wait_until([&] { return probe.gate.pending_waits() == 1; }));
  set.abort_all();
  auto outcome = rt.block_on(set.join_next());
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->aborted());  // cancellation propagates instead of looking like a timeout
  EXPECT_TRUE(probe.cancelled);
}

TEST(Races, ManyConcurrentRaces) {
  Runtime rt(8);
  CancellationToken token;
  std::atomic<int> finished{0}, stopped{0};
  TaskSet<void> set(rt.executor());
  for (int m = 0; m < 64; ++m) {
    set.spawn([](CancellationToken t, int id, std::atomic<int>& f, std::atomic<int>& s) -> asio::awaitable<void> {
      for (int i = 0; i < 20; ++i) {
        auto r = co_await until_cancelled(t, [](int v) -> asio::awaitable<int> {
          co_await testing::yield_now();
          co_return v;
        }(id * 100 + i));
        ++(r ? f : s);
        auto timed = co_await with_timeout(testing::yield_now(), std::chrono::microseconds(i * 10));
        (void)timed;
      }
    }(token, m, finished, stopped));
  }
  while (auto outcome = rt.block_on(set.join_next())) ASSERT_TRUE(outcome->returned()) << outcome->message;
  EXPECT_EQ(finished.load() + stopped.load(), 64 * 20);
  EXPECT_EQ(token.pending_waits(), 0u);
}

}  // namespace
}  // namespace valdori::util
