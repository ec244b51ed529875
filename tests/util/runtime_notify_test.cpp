#include "util/runtime/notify.hpp"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/runtime.hpp"
#include "util/runtime/task_handle.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using testing::wait_until;

// Whether a wait for `notify` ends within a short time.
bool notified_soon(Runtime& runtime, Notify& notify) { return runtime.block_on(with_timeout(notify.notified(), 50ms)); }

class Woken {
 public:
  void add(const std::string& name) {
    std::lock_guard lock(mutex_);
    names_.push_back(name);
  }
  std::vector<std::string> names() const {
    std::lock_guard lock(mutex_);
    return names_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
};

asio::awaitable<void> wait_for(Notify& notify, std::string name, Woken& woken, CancellationToken abort) {
  const bool notified = co_await until_cancelled(abort, notify.notified());
  if (notified) woken.add(name);
}

TEST(Notify, ANotificationWithNobodyWaitingLeavesOnePermit) {
  Runtime runtime(2);
  Notify notify;
  EXPECT_FALSE(notified_soon(runtime, notify));
  notify.notify_one();
  notify.notify_one();
  EXPECT_TRUE(notified_soon(runtime, notify));
  EXPECT_FALSE(notified_soon(runtime, notify));  // permits do not add up
  notify.notify_waiters();
  EXPECT_FALSE(notified_soon(runtime, notify));  // nor does waking nobody leave one
}

TEST(Notify, WakesOneWaiterInArrivalOrderOrAllOfThem) {
  Runtime runtime(2);
  Notify notify;
  Woken woken;
  const CancellationToken abort_b;
  const std::vector<std::string> names{"a", "b", "c", "d"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    testing::spawn_on_strand(runtime.executor(),
                             wait_for(notify, names[i], woken, names[i] == "b" ? abort_b : CancellationToken{}));
    ASSERT_TRUE(wait_until([&] { return notify.queued_waiters() == i + 1; }));
  }
  abort_b.cancel();  // a cancelled wait leaves the queue
  ASSERT_TRUE(wait_until([&] { return notify.queued_waiters() == 3; }));
  notify.notify_one();
  ASSERT_TRUE(wait_until([&] { return woken.names().size() == 1; }));
  EXPECT_EQ(woken.names(), std::vector<std::string>{"a"});
  notify.notify_waiters();
  ASSERT_TRUE(wait_until([&] { return woken.names().size() == 3; }));
  EXPECT_EQ(notify.queued_waiters(), 0u);
  EXPECT_FALSE(notified_soon(runtime, notify));
}

asio::awaitable<void> until(CancellationToken token, std::atomic<bool>& ended) {
  co_await token.cancelled();
  ended = true;
}

TEST(TaskHandle, JoinsAbortsAndAbortsWhenDropped) {
  Runtime runtime(2);
  const CancellationToken go;
  std::atomic<bool> ended = false;
  TaskHandle finishing(runtime.executor(), until(go, ended));
  EXPECT_FALSE(finishing.finished());
  go.cancel();
  const auto returned = runtime.block_on(finishing.join());
  ASSERT_TRUE(returned);
  EXPECT_TRUE(returned->returned());
  EXPECT_TRUE(ended);
  EXPECT_TRUE(finishing.finished());
  EXPECT_EQ(runtime.block_on(finishing.join()), std::nullopt);

  const CancellationToken never;
  std::atomic<bool> never_ended = false;
  TaskHandle aborted(runtime.executor(), until(never, never_ended));
  aborted.abort();
  const auto outcome = runtime.block_on(aborted.join());
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->aborted());
  EXPECT_FALSE(never_ended);

  const CancellationToken gate;
  std::atomic<bool> dropped_ended = false;
  { const TaskHandle dropped(runtime.executor(), until(gate, dropped_ended)); }
  std::this_thread::sleep_for(50ms);  // the abort is delivered on the task's strand
  gate.cancel();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(dropped_ended);
}

}  // namespace
}  // namespace valdori::util
