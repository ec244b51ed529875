#include "util/runtime/cancellation_token.hpp"

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/system/system_error.hpp>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using testing::wait_until;

// A tree given as the parent index of each node (-1 for the root, node 0).
struct TreeCase {
  const char* name;
  std::vector<int> parents;
  int cancelled_node;
};

std::vector<CancellationToken> build(const std::vector<int>& parents) {
  std::vector<CancellationToken> nodes;
  for (int p : parents) nodes.push_back(p < 0 ? CancellationToken() : nodes[p].child_token());
  return nodes;
}

bool descends_from(const std::vector<int>& parents, int node, int ancestor) {
  for (int n = node; n >= 0; n = parents[n]) {
    if (n == ancestor) return true;
  }
  return false;
}

TEST(CancellationToken, CancelReachesExactlyTheSubtree) {
  const TreeCase cases[] = {
      {"middle of a chain", {-1, 0, 1, 2, 3}, 2},
      {"root of a wide tree", {-1, 0, 0, 0, 1, 1, 2}, 0},
      {"one branch of a wide tree", {-1, 0, 0, 0, 1, 1, 2}, 1},
      {"a lone sibling", {-1, 0, 0, 0, 1, 1, 2}, 3},
  };
  for (const TreeCase& c : cases) {
    auto nodes = build(c.parents);
    nodes[c.cancelled_node].cancel();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      EXPECT_EQ(nodes[i].is_cancelled(), descends_from(c.parents, static_cast<int>(i), c.cancelled_node))
          << c.name << ", node " << i;
    }
  }
}

TEST(CancellationToken, ChildOfACancelledTokenStartsCancelled) {
  CancellationToken root;
  auto child = root.child_token();
  root.cancel();
  auto late = root.child_token();
  auto grandchild = child.child_token();
  EXPECT_TRUE(late.is_cancelled());
  EXPECT_TRUE(grandchild.is_cancelled());
  EXPECT_TRUE(late.child_token().is_cancelled());
  EXPECT_EQ(root.child_registrations(), 0u);  // cancelled tokens keep no children
}

TEST(CancellationToken, DroppedChildrenArePruned) {
  CancellationToken root;
  std::vector<CancellationToken> kept;
  for (int i = 0; i < 10000; ++i) {
    auto child = root.child_token();
    if (i % 1000 == 0) kept.push_back(child);
  }
  // Bounded by about twice the live children plus a small constant, not by the 10000 made.
  EXPECT_LE(root.child_registrations(), 2 * kept.size() + 8);
  root.cancel();
  for (auto& k : kept) EXPECT_TRUE(k.is_cancelled());
}

TEST(CancellationToken, WaitersWakeOnCancelInTreeOrder) {
  Runtime rt(4);
  CancellationToken root;
  auto child = root.child_token();
  auto grandchild = child.child_token();
  constexpr int kWaiters = 16;
  std::atomic<int> woken{0};
  std::atomic<int> order_violations{0};
  for (int i = 0; i < kWaiters; ++i) {
    const CancellationToken& waited = (i % 2 == 0) ? child : grandchild;
    testing::spawn_on_strand(rt.executor(),
                             [](CancellationToken token, CancellationToken parent, std::atomic<int>& count,
                                std::atomic<int>& violations) -> asio::awaitable<void> {
                               co_await token.cancelled();
                               // By the time any waiter resumes, every ancestor is cancelled too.
                               if (!token.is_cancelled() || !parent.is_cancelled()) ++violations;
                               ++count;
                             }(waited, root, woken, order_violations));
  }
  ASSERT_TRUE(wait_until([&] { return child.pending_waits() + grandchild.pending_waits() == kWaiters; }));
  EXPECT_EQ(woken.load(), 0);
  root.cancel();
  // cancel() has flagged every descendant before returning.
  EXPECT_TRUE(child.is_cancelled());
  EXPECT_TRUE(grandchild.is_cancelled());
  ASSERT_TRUE(wait_until([&] { return woken.load() == kWaiters; }));
  EXPECT_EQ(order_violations.load(), 0);
  EXPECT_EQ(child.pending_waits(), 0u);
  EXPECT_EQ(grandchild.pending_waits(), 0u);
  // A wait on a cancelled token completes at once.
  EXPECT_NO_THROW(rt.block_on(grandchild.child_token().cancelled()));
}

TEST(CancellationToken, CancelledWaitOfItsOwnThrowsOperationAborted) {
  Runtime rt(2);
  CancellationToken token;
  asio::cancellation_signal signal;
  std::promise<boost::system::error_code> outcome;
  auto strand = asio::make_strand(rt.executor());
  asio::co_spawn(strand, token.cancelled(), asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr e) {
                   boost::system::error_code ec;
                   try {
                     if (e) std::rethrow_exception(e);
                   } catch (const boost::system::system_error& err) {
                     ec = err.code();
                   }
                   outcome.set_value(ec);
                 }));
  ASSERT_TRUE(wait_until([&] { return token.pending_waits() == 1; }));
  asio::post(strand, [&] { signal.emit(asio::cancellation_type::terminal); });
  auto future = outcome.get_future();
  ASSERT_EQ(future.wait_for(testing::kWaitLimit), std::future_status::ready);
  EXPECT_EQ(future.get(), asio::error::operation_aborted);
  EXPECT_EQ(token.pending_waits(), 0u);
  EXPECT_FALSE(token.is_cancelled());
  rt.shutdown();  // nothing may touch the signal once it is gone
}

TEST(CancellationToken, ConcurrentCancelFromManyThreads) {
  Runtime rt(4);
  for (int round = 0; round < 20; ++round) {
    // A random tree of 200 nodes; each gets a waiter.
    std::mt19937 rng(static_cast<unsigned>(round));
    std::vector<int> parents{-1};
    for (int i = 1; i < 200; ++i) parents.push_back(static_cast<int>(rng() % i));
    auto nodes = build(parents);
    std::atomic<int> woken{0};
    for (auto& node : nodes) {
      testing::spawn_on_strand(rt.executor(),
                               [](CancellationToken t, std::atomic<int>& count) -> asio::awaitable<void> {
                                 co_await t.cancelled();
                                 ++count;
                               }(node, woken));
    }
    ASSERT_TRUE(wait_until([&] {
      std::size_t n = 0;
      for (auto& node : nodes) n += node.pending_waits();
      return n == nodes.size();
    }));
    // Eight threads cancel overlapping nodes (the root among them) at once, and add children.
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    std::mutex late_mutex;
    std::vector<CancellationToken> late_children;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        std::mt19937 local(static_cast<unsigned>(round * 100 + t));
        while (!go.load()) std::this_thread::yield();
        for (int k = 0; k < 20; ++k) {
          auto& node = nodes[local() % nodes.size()];
          if (k % 2 == 0) {
            node.cancel();
          } else {
            auto c = node.child_token();
            std::lock_guard lock(late_mutex);
            late_children.push_back(c);
          }
        }
        if (t == 0) nodes[0].cancel();
      });
    }
    go = true;
    for (auto& th : threads) th.join();
    for (auto& node : nodes) EXPECT_TRUE(node.is_cancelled());
    for (auto& c : late_children) EXPECT_TRUE(c.is_cancelled());
    ASSERT_TRUE(wait_until([&] { return woken.load() == static_cast<int>(nodes.size()); }));
    // Each waiter woke exactly once.
    EXPECT_EQ(woken.load(), static_cast<int>(nodes.size()));
  }
}

TEST(CancellationToken, AnUncancelledWaitLeftAtShutdownIsFreed) {
  // Run under LeakSanitizer in the test build: the coroutine, its frame and the token state
  // form a cycle that only the runtime's shutdown breaks.
  CancellationToken token;
  {
    Runtime rt(2);
    testing::spawn_on_strand(rt.executor(),
                             [](CancellationToken t) -> asio::awaitable<void> { co_await t.cancelled(); }(token));
    ASSERT_TRUE(wait_until([&] { return token.pending_waits() == 1; }));
  }
  EXPECT_FALSE(token.is_cancelled());
}

}  // namespace
}  // namespace valdori::util
