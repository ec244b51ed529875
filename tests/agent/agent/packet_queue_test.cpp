#include "agent/agent/inner/packet_queue.hpp"

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>

#include "util/runtime/runtime.hpp"

namespace valdori::agent {
namespace {

using Queue = PacketQueue<std::unique_ptr<int>>;

TEST(PacketQueue, KeepsOrderWhileItsRingGrows) {
  util::Runtime runtime(2);
  Queue queue(runtime.executor(), 100);
  for (int i = 0; i < 100; ++i) ASSERT_FALSE(queue.try_push(std::make_unique<int>(i)));
  runtime.block_on([&]() -> boost::asio::awaitable<void> {
    for (int i = 0; i < 100; ++i) {
      auto item = co_await queue.pop();
      EXPECT_TRUE(item);
      if (item) {
        EXPECT_EQ(**item, i);
      }
    }
  }());
}

TEST(PacketQueue, RefusesWithTheReason) {
  util::Runtime runtime(1);
  Queue queue(runtime.executor(), 2);
  EXPECT_FALSE(queue.try_push(std::make_unique<int>(1)));
  EXPECT_FALSE(queue.try_push(std::make_unique<int>(2)));
  EXPECT_EQ(queue.try_push(std::make_unique<int>(3)), std::string_view("sending on a full channel"));
  queue.close();
  EXPECT_EQ(queue.try_push(std::make_unique<int>(4)), std::string_view("sending on a closed channel"));
}

TEST(PacketQueue, FailsOnceClosed) {
  util::Runtime runtime(1);
  Queue queue(runtime.executor(), 4);
  EXPECT_FALSE(queue.try_push(std::make_unique<int>(7)));
  queue.close();
  runtime.block_on([&]() -> boost::asio::awaitable<void> {
    auto item = co_await queue.pop();
    EXPECT_FALSE(item);
  }());
}

TEST(PacketQueue, HandsAnItemToAWaitingConsumer) {
  util::Runtime runtime(2);
  Queue queue(runtime.executor(), 0);  // no room: only a waiting consumer can take an item
  std::promise<int> got;
  boost::asio::co_spawn(
      boost::asio::make_strand(runtime.executor()),
      [&]() -> boost::asio::awaitable<void> {
        auto item = co_await queue.pop();
        got.set_value(item ? **item : -1);
      },
      boost::asio::detached);
  // Retried until the consumer is waiting.
  while (queue.try_push(std::make_unique<int>(5))) std::this_thread::yield();
  EXPECT_EQ(got.get_future().get(), 5);
}

}  // namespace
}  // namespace valdori::agent
