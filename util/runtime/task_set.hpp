// A set of member coroutines whose outcomes are collected as they finish.
//
//   TaskSet<int> set(runtime.executor());
//   set.spawn(work(1));
//   set.spawn(work(2));
//   while (auto outcome = co_await set.join_next()) { ... outcome->status ... }
//
// Each member runs on its own strand of the set's executor, bound to a cancellation signal of
// its own. `abort(id)` / `abort_all()` emit terminal cancellation to members: the operation a
// member is suspended in is cancelled, and (with Asio's default throw-if-cancelled) its next
// co_await throws. A member that was aborted and ended with an exception is reported as
// `aborted`; one that ignored the abort and returned is reported as `returned`. Destroying the
// set aborts the members that are left and drops their outcomes; pending `join_next` calls end
// with nullopt. All member functions are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>

#include "util/runtime/detail/boxed.hpp"
#include "util/runtime/detail/wait_op.hpp"
#include "util/runtime/strand.hpp"

namespace valdori::util {

using TaskId = std::uint64_t;

enum class TaskStatus {
  returned,  // the member returned (its value is in the outcome)
  failed,    // the member threw, without having been aborted
  aborted,   // the member was aborted and ended by an exception (usually operation_aborted)
};

struct TaskOutcomeBase {
  TaskId id = 0;
  TaskStatus status = TaskStatus::returned;
  std::exception_ptr error;  // the exception a failed or aborted member ended with
  std::string message;       // its what(), for failed and aborted members

  bool returned() const noexcept { return status == TaskStatus::returned; }
  bool failed() const noexcept { return status == TaskStatus::failed; }
  bool aborted() const noexcept { return status == TaskStatus::aborted; }
};

template <typename T>
struct TaskOutcome : TaskOutcomeBase {
  std::optional<T> value;  // set when returned
};

template <>
struct TaskOutcome<void> : TaskOutcomeBase {};

namespace detail {

std::string exception_message(const std::exception_ptr& error);

template <typename T>
class TaskSetState : public std::enable_shared_from_this<TaskSetState<T>> {
 public:
  using Outcome = TaskOutcome<T>;

  struct JoinWait : WaitOp {
    std::optional<Outcome> outcome;  // set before completion; nullopt means nothing to join
  };

  TaskId spawn(const boost::asio::any_io_executor& executor, boost::asio::awaitable<T> task) {
    boost::asio::any_io_executor strand = make_task_strand(executor);
    auto signal = std::make_shared<boost::asio::cancellation_signal>();
    std::lock_guard lock(mutex_);
    const TaskId id = ++last_id_;
    running_.emplace(id, Member{signal, strand});
    // Posted under the lock, so that an abort posted later reaches the member's strand after
    // the member has been started and its cancellation slot connected.
    boost::asio::post(strand, [self = this->shared_from_this(), id, signal, strand, task = std::move(task)]() mutable {
      boost::asio::co_spawn(
          strand, boxed(std::move(task)),
          boost::asio::bind_cancellation_slot(signal->slot(), [self, id](std::exception_ptr error, boxed_t<T> result) {
            self->finished(id, std::move(error), std::move(result));
          }));
    });
    return id;
  }

  bool abort(TaskId id) {
    std::lock_guard lock(mutex_);
    auto it = running_.find(id);
    if (it == running_.end()) return false;
    request_abort_locked(it->second);
    return true;
  }

  void abort_all() {
    std::lock_guard lock(mutex_);
    for (auto& [id, member] : running_) request_abort_locked(member);
  }

  // The set's owner is gone: abort the members, drop outcomes, end the waits.
  void close() {
    std::vector<std::shared_ptr<WaitOp>> waiters;
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
      for (auto& [id, member] : running_) request_abort_locked(member);
      finished_.clear();
      waiters = waiters_.take_all();
    }
    for (auto& w : waiters) w->complete(error_code{});
  }

  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return running_.size() + finished_.size();
  }

  std::size_t running() const {
    std::lock_guard lock(mutex_);
    return running_.size();
  }

  static boost::asio::awaitable<std::optional<Outcome>> join_next(std::shared_ptr<TaskSetState> self) {
    bool wait = false;
    std::optional<Outcome> ready;
    {
      std::lock_guard lock(self->mutex_);
      if (!self->finished_.empty()) {
        ready = std::move(self->finished_.front());
        self->finished_.pop_front();
      } else {
        wait = !self->running_.empty() && !self->closed_;
      }
    }
    if (!wait) co_return ready;
    auto op = std::make_shared<JoinWait>();
    co_await async_wait(self, op);
    co_return std::move(op->outcome);
  }

  template <typename Handler>
  void start_wait(const std::shared_ptr<JoinWait>& op, Handler&& handler) {
    arm_cancellable(this->shared_from_this(), std::static_pointer_cast<WaitOp>(op), std::forward<Handler>(handler));
    {
      std::lock_guard lock(mutex_);
      if (finished_.empty() && !running_.empty() && !closed_) {
        waiters_.push_back(op);
        return;
      }
      if (!finished_.empty()) {
        op->outcome = std::move(finished_.front());
        finished_.pop_front();
      }
    }
    op->complete(error_code{});
  }

  void cancel_wait(WaitOp& op) { cancel_queued(mutex_, waiters_, op); }

 private:
  struct Member {
    std::shared_ptr<boost::asio::cancellation_signal> signal;
    boost::asio::any_io_executor strand;
    bool abort_requested = false;
  };

  void request_abort_locked(Member& member) {
    if (member.abort_requested) return;
    member.abort_requested = true;
    post_abort(member);
  }

  // The signal is emitted on the member's strand, serialised with the member coroutine.
  static void post_abort(const Member& member) {
    boost::asio::post(member.strand,
                      [signal = member.signal] { signal->emit(boost::asio::cancellation_type::terminal); });
  }

  void finished(TaskId id, const std::exception_ptr& error, boxed_t<T> result) {
    Outcome outcome;
    outcome.id = id;
    std::vector<std::shared_ptr<WaitOp>> wake;
    {
      std::lock_guard lock(mutex_);
      auto it = running_.find(id);
      const bool aborted = it != running_.end() && it->second.abort_requested;
      if (it != running_.end()) running_.erase(it);
      if (error) {
        outcome.status = aborted ? TaskStatus::aborted : TaskStatus::failed;
        outcome.message = exception_message(error);
        outcome.error = error;
      } else {
        outcome.status = TaskStatus::returned;
        if constexpr (!std::is_void_v<T>) outcome.value = std::move(result);
      }
      if (closed_) return;
      if (!waiters_.empty()) {
        auto waiter = waiters_.pop_front<JoinWait>();
        waiter->outcome = std::move(outcome);
        wake.push_back(std::move(waiter));
      } else {
        finished_.push_back(std::move(outcome));
      }
      // Nothing left to finish: the remaining waiters have nothing to join.
      if (running_.empty()) {
        for (auto& w : waiters_.take_all()) wake.push_back(std::move(w));
      }
    }
    for (auto& w : wake) w->complete(error_code{});
  }

  mutable std::mutex mutex_;
  TaskId last_id_ = 0;
  std::map<TaskId, Member> running_;
  std::deque<Outcome> finished_;
  WaitQueue waiters_;
  bool closed_ = false;
};

}  // namespace detail

template <typename T>
class TaskSet {
 public:
  using Outcome = TaskOutcome<T>;

  explicit TaskSet(boost::asio::any_io_executor executor)
      : executor_(std::move(executor)), state_(std::make_shared<detail::TaskSetState<T>>()) {}
  // NOLINTNEXTLINE(bugprone-exception-escape): a lock that fails here ends the program.
  ~TaskSet() { state_->close(); }
  TaskSet(const TaskSet&) = delete;
  TaskSet& operator=(const TaskSet&) = delete;

  // Starts `task` as a member on a new strand of the set's executor.
  TaskId spawn(boost::asio::awaitable<T> task) { return state_->spawn(executor_, std::move(task)); }
  // Starts `task` as a member on a new strand of `executor`.
  TaskId spawn(const boost::asio::any_io_executor& executor, boost::asio::awaitable<T> task) {
    return state_->spawn(executor, std::move(task));
  }

  // Waits for the next member to finish and returns its outcome; outcomes of members that
  // finished earlier come first, in finishing order. Returns nullopt at once when the set
  // has no member left to join. Cancellable through Asio per-operation cancellation.
  boost::asio::awaitable<std::optional<Outcome>> join_next() { return detail::TaskSetState<T>::join_next(state_); }

  // Aborts one running member; false when it is not running (finished or unknown).
  bool abort(TaskId id) { return state_->abort(id); }
  // Aborts every running member. Their outcomes are still collected by join_next.
  void abort_all() { state_->abort_all(); }

  // Members not joined yet (running, or finished with an outcome waiting).
  std::size_t size() const { return state_->size(); }
  bool empty() const { return size() == 0; }
  // Members still running.
  std::size_t running() const { return state_->running(); }

  const boost::asio::any_io_executor& executor() const noexcept { return executor_; }

 private:
  boost::asio::any_io_executor executor_;
  std::shared_ptr<detail::TaskSetState<T>> state_;
};

}  // namespace valdori::util
