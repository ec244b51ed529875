#include "util/runtime/notify.hpp"

#include <mutex>
#include <utility>
#include <vector>

#include "util/runtime/detail/wait_op.hpp"

namespace valdori::util {
namespace detail {

class NotifyCore : public std::enable_shared_from_this<NotifyCore> {
 public:
  template <typename Handler>
  void start_wait(const std::shared_ptr<WaitOp>& op, Handler&& handler) {
    arm_cancellable(shared_from_this(), op, std::forward<Handler>(handler));
    {
      std::lock_guard lock(mutex_);
      if (!permit_) {
        waiters_.push_back(op);
        return;
      }
      permit_ = false;
    }
    op->complete(error_code{});
  }

  void cancel_wait(WaitOp& op) { cancel_queued(mutex_, waiters_, op); }

  std::size_t queued_waiters() const {
    std::lock_guard lock(mutex_);
    return waiters_.size();
  }

  void notify_one() {
    std::shared_ptr<WaitOp> woken;
    {
      std::lock_guard lock(mutex_);
      if (waiters_.empty()) {
        permit_ = true;
        return;
      }
      woken = waiters_.pop_front();
    }
    woken->complete(error_code{});
  }

  void notify_waiters() {
    std::vector<std::shared_ptr<WaitOp>> woken;
    {
      std::lock_guard lock(mutex_);
      woken = waiters_.take_all();
    }
    for (const auto& op : woken) op->complete(error_code{});
  }

 private:
  mutable std::mutex mutex_;
  WaitQueue waiters_;
  bool permit_ = false;
};

}  // namespace detail

Notify::Notify() : core_(std::make_shared<detail::NotifyCore>()) {}

boost::asio::awaitable<void> Notify::notified() {
  // Held by the frame: the wait may outlive this object.
  const std::shared_ptr<detail::NotifyCore> core = core_;
  const auto op = std::make_shared<detail::WaitOp>();
  co_await detail::async_wait(core, op);
}

void Notify::notify_one() { core_->notify_one(); }

void Notify::notify_waiters() { core_->notify_waiters(); }

std::size_t Notify::queued_waiters() const { return core_->queued_waiters(); }

}  // namespace valdori::util
