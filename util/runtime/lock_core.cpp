#include "util/runtime/lock_core.hpp"

#include <mutex>
#include <vector>

#include <boost/asio/error.hpp>

#include "util/runtime/detail/wait_op.hpp"

namespace valdori::util::detail {

struct LockWait : WaitOp {
  explicit LockWait(LockMode m) : mode(m) {}
  ~LockWait() override {
    // Granted but never resumed (its handler was dropped at shutdown): give the lock back.
    if (grant) release_lock(*grant, mode);
  }

  const LockMode mode;
  // Set when granted (under the core's mutex), then taken by the resumed waiter's guard.
  std::shared_ptr<LockCore> grant;
};

class LockCore : public std::enable_shared_from_this<LockCore> {
 public:
  template <LockMode Mode>
  static LockGuard<Mode> adopt(std::shared_ptr<LockCore> core) {
    return LockGuard<Mode>(std::move(core));
  }

  bool try_acquire(LockMode mode) {
    std::lock_guard lock(mutex_);
    if (!queue_.empty() || !compatible_locked(mode)) return false;
    take_locked(mode);
    return true;
  }

  void release(LockMode mode) {
    std::vector<std::shared_ptr<LockWait>> granted;
    {
      std::lock_guard lock(mutex_);
      if (mode == LockMode::exclusive) {
        writer_ = false;
      } else {
        --readers_;
      }
      grant_locked(granted);
    }
    complete_all(granted);
  }

  template <typename Handler>
  void start_wait(const std::shared_ptr<LockWait>& op, Handler&& handler) {
    arm_cancellable(shared_from_this(), std::static_pointer_cast<WaitOp>(op), std::forward<Handler>(handler));
    std::vector<std::shared_ptr<LockWait>> granted;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(op);
      grant_locked(granted);  // the lock may have been released since the fast path failed
    }
    complete_all(granted);
  }

  void cancel_wait(WaitOp& op) {
    std::shared_ptr<WaitOp> removed;
    std::vector<std::shared_ptr<LockWait>> granted;
    {
      std::lock_guard lock(mutex_);
      removed = queue_.remove(op);
      if (!removed) return;
      grant_locked(granted);  // a removed head may have been holding back the waiters behind it
    }
    removed->complete(boost::asio::error::operation_aborted);
    complete_all(granted);
  }

  std::size_t queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

 private:
  bool compatible_locked(LockMode mode) const {
    return mode == LockMode::exclusive ? !writer_ && readers_ == 0 : !writer_;
  }

  void take_locked(LockMode mode) {
    if (mode == LockMode::exclusive) {
      writer_ = true;
    } else {
      ++readers_;
    }
  }

  // Grants the head of the queue while it is compatible: one writer, or a run of readers.
  void grant_locked(std::vector<std::shared_ptr<LockWait>>& granted) {
    while (!queue_.empty() && compatible_locked(queue_.front<LockWait>().mode)) {
      std::shared_ptr<LockWait> op = queue_.pop_front<LockWait>();
      take_locked(op->mode);
      op->grant = shared_from_this();
      granted.push_back(std::move(op));
    }
  }

  // Outside the mutex: resumes the granted waiters. A waiter whose handler was dropped gives
  // its grant back when its op is destroyed here.
  static void complete_all(std::vector<std::shared_ptr<LockWait>>& granted) {
    for (auto& op : granted) op->complete(error_code{});
    granted.clear();
  }

  mutable std::mutex mutex_;
  std::size_t readers_ = 0;
  bool writer_ = false;
  WaitQueue queue_;
};

void release_lock(LockCore& core, LockMode mode) noexcept { core.release(mode); }

std::shared_ptr<LockCore> make_lock_core() { return std::make_shared<LockCore>(); }

std::size_t queued_waiters(const LockCore& core) { return core.queued(); }

template <LockMode Mode>
boost::asio::awaitable<LockGuard<Mode>> acquire_lock(std::shared_ptr<LockCore> core) {
  if (core->try_acquire(Mode)) co_return LockCore::adopt<Mode>(std::move(core));
  auto op = std::make_shared<LockWait>(Mode);
  co_await async_wait(core, op);
  co_return LockCore::adopt<Mode>(std::move(op->grant));
}

template <LockMode Mode>
std::optional<LockGuard<Mode>> try_acquire_lock(const std::shared_ptr<LockCore>& core) {
  if (!core->try_acquire(Mode)) return std::nullopt;
  return LockCore::adopt<Mode>(core);
}

template boost::asio::awaitable<LockGuard<LockMode::shared>> acquire_lock(std::shared_ptr<LockCore>);
template boost::asio::awaitable<LockGuard<LockMode::exclusive>> acquire_lock(std::shared_ptr<LockCore>);
template std::optional<LockGuard<LockMode::shared>> try_acquire_lock(const std::shared_ptr<LockCore>&);
template std::optional<LockGuard<LockMode::exclusive>> try_acquire_lock(const std::shared_ptr<LockCore>&);

}  // namespace valdori::util::detail
