#include "util/runtime/cancellation_token.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "util/runtime/detail/wait_op.hpp"

namespace valdori::util {
namespace detail {

namespace {
constexpr std::size_t kMinPruneThreshold = 8;
}

class TokenState : public std::enable_shared_from_this<TokenState> {
 public:
  bool is_cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

  std::shared_ptr<TokenState> make_child() {
    auto child = std::make_shared<TokenState>();
    std::lock_guard lock(mutex_);
    if (cancelled_.load(std::memory_order_relaxed)) {
      child->cancelled_.store(true, std::memory_order_release);
      return child;
    }
    if (children_.size() >= prune_at_) {
      std::erase_if(children_, [](const std::weak_ptr<TokenState>& c) { return c.expired(); });
      prune_at_ = std::max(kMinPruneThreshold, 2 * children_.size());
    }
    children_.push_back(child);
    return child;
  }

  // Cancels this state and its descendants, depth-first without recursion.
  void cancel() {
    std::vector<std::shared_ptr<TokenState>> pending{shared_from_this()};
    while (!pending.empty()) {
      std::shared_ptr<TokenState> state = std::move(pending.back());
      pending.pop_back();
      std::vector<std::weak_ptr<TokenState>> children;
      std::vector<std::shared_ptr<WaitOp>> waiters;
      {
        std::lock_guard lock(state->mutex_);
        if (state->cancelled_.load(std::memory_order_relaxed)) continue;
        state->cancelled_.store(true, std::memory_order_release);
        children.swap(state->children_);
        waiters = state->waiters_.take_all();
      }
      for (auto& w : waiters) w->complete(error_code{});
      for (auto& weak : children) {
        if (auto child = weak.lock()) pending.push_back(std::move(child));
      }
    }
  }

  template <typename Handler>
  void start_wait(const std::shared_ptr<WaitOp>& op, Handler&& handler) {
    arm_cancellable(shared_from_this(), op, std::forward<Handler>(handler));
    {
      std::lock_guard lock(mutex_);
      if (!cancelled_.load(std::memory_order_relaxed)) {
        waiters_.push_back(op);
        return;
      }
    }
    op->complete(error_code{});
  }

  void cancel_wait(WaitOp& op) { cancel_queued(mutex_, waiters_, op); }

  std::size_t child_registrations() const {
    std::lock_guard lock(mutex_);
    return children_.size();
  }

  std::size_t pending_waits() const {
    std::lock_guard lock(mutex_);
    return waiters_.size();
  }

 private:
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<TokenState>> children_;
  std::size_t prune_at_ = kMinPruneThreshold;
  WaitQueue waiters_;
};

namespace {

boost::asio::awaitable<void> wait_cancelled(std::shared_ptr<TokenState> state) {
  if (state->is_cancelled()) co_return;
  auto op = std::make_shared<WaitOp>();
  co_await async_wait(state, op);
}

}  // namespace
}  // namespace detail

CancellationToken::CancellationToken() : state_(std::make_shared<detail::TokenState>()) {}

CancellationToken::CancellationToken(std::shared_ptr<detail::TokenState> state) : state_(std::move(state)) {}

CancellationToken CancellationToken::child_token() const { return CancellationToken(state_->make_child()); }

void CancellationToken::cancel() const { state_->cancel(); }

bool CancellationToken::is_cancelled() const noexcept { return state_->is_cancelled(); }

boost::asio::awaitable<void> CancellationToken::cancelled() const { return detail::wait_cancelled(state_); }

std::size_t CancellationToken::child_registrations() const { return state_->child_registrations(); }

std::size_t CancellationToken::pending_waits() const { return state_->pending_waits(); }

}  // namespace valdori::util
