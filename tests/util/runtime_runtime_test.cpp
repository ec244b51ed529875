#include "util/runtime/runtime.hpp"

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using testing::wait_until;

asio::awaitable<int> add(int a, int b) {
  co_await testing::yield_now();
  co_return a + b;
}

asio::awaitable<std::string> fail_with(std::string message) {
  co_await testing::yield_now();
  throw std::runtime_error(message);
}

TEST(Runtime, BlockOnReturnsResultsAndPropagatesExceptions) {
  Runtime rt(2);
  EXPECT_EQ(rt.block_on(add(2, 3)), 5);
  EXPECT_NO_THROW(rt.block_on(testing::yield_now()));
  try {
    rt.block_on(fail_with("boom"));
    FAIL() << "expected an exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "boom");
  }
  // Move-only results travel too.
  auto ptr = rt.block_on([]() -> asio::awaitable<std::unique_ptr<int>> { co_return std::make_unique<int>(7); }());
  ASSERT_TRUE(ptr);
  EXPECT_EQ(*ptr, 7);
}

TEST(Runtime, BlockOnFromARuntimeThreadFailsInsteadOfDeadlocking) {
  Runtime rt(1);
  std::promise<std::string> result;
  asio::post(rt.executor(), [&] {
    try {
      rt.block_on(add(1, 1));
      result.set_value("no error");
    } catch (const std::logic_error& e) {
      result.set_value(std::string("logic_error: ") + e.what());
    }
  });
  auto future = result.get_future();
  ASSERT_EQ(future.wait_for(testing::kSafetyNet), std::future_status::ready);
  EXPECT_EQ(future.get().rfind("logic_error: ", 0), 0u);
  // The runtime still works afterwards.
  EXPECT_EQ(rt.block_on(add(1, 1)), 2);
}

TEST(Runtime, ShutdownReleasesABlockedCaller) {
  auto rt = std::make_unique<Runtime>(2);
  CancellationToken never;  // a coroutine waiting for it is left pending at shutdown
  std::promise<std::string> outcome;
  std::thread caller([&] {
    try {
      rt->block_on(never.cancelled());
      outcome.set_value("returned");
    } catch (const std::runtime_error& e) {
      outcome.set_value(e.what());
    }
  });
  ASSERT_TRUE(wait_until([&] { return never.pending_waits() == 1; }));
  rt->shutdown();
  rt->shutdown();
  caller.join();
  EXPECT_EQ(outcome.get_future().get(), "the runtime was shut down");
  EXPECT_THROW(rt->block_on(add(1, 2)), std::runtime_error);
  // Destroying the runtime drops the pending wait (and the coroutine waiting in it).
  rt.reset();
  EXPECT_EQ(never.pending_waits(), 1u);  // the registration stays, its handler is gone
  EXPECT_FALSE(never.is_cancelled());
  never.cancel();  // completing a dropped wait is harmless
  EXPECT_EQ(never.pending_waits(), 0u);
}

TEST(Runtime, EachLaneRunsOnOneThreadOfItsOwn) {
  Runtime rt(2);
  const auto thread_of = [](const asio::any_io_executor& executor) {
    std::promise<std::thread::id> ran;
    asio::post(executor, [&] { ran.set_value(std::this_thread::get_id()); });
    return ran.get_future().get();
  };
  const DirectionLanes lanes = direction_lanes(asio::make_strand(rt.executor()));
  const auto outbound = thread_of(lanes.outbound);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(thread_of(lanes.outbound), outbound);
  EXPECT_NE(thread_of(lanes.inbound), outbound);
  EXPECT_EQ(Runtime::of(rt.executor()), &rt);

  // Any other executor serves both directions itself.
  asio::io_context plain;
  EXPECT_EQ(Runtime::of(plain.get_executor()), nullptr);
  EXPECT_TRUE(direction_lanes(plain.get_executor()).inbound == asio::any_io_executor(plain.get_executor()));
}

TEST(Runtime, KeepsRunningAfterAHandlerThrows) {
  Runtime rt(1);
  asio::post(rt.executor(), [] { throw std::runtime_error("handler failure"); });
  EXPECT_EQ(rt.block_on(add(20, 22)), 42);
}

}  // namespace
}  // namespace valdori::util
