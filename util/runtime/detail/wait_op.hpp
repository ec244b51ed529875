// The building block of every waiting primitive in util/runtime: one suspended wait.
//
// A primitive (cancellation token, lock, task set) keeps its waiters as shared `WaitOp`s in a
// queue guarded by its own mutex. A waiter's completion handler lives in the op; `complete`
// posts it to the handler's executor, from any thread, at most once. Asio per-operation
// cancellation reaches the primitive through `CancelWait`, which the primitive emplaces in the
// handler's cancellation slot and which removes the op from the primitive's queue.
//
// Handlers of ops that are still pending when their execution context shuts down (an
// io_context being destroyed) are destroyed by a service of that context, as Asio does with its
// own pending operations, so a coroutine left waiting on a token that is never cancelled is
// freed instead of leaked.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <boost/asio/any_completion_handler.hpp>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/intrusive/list.hpp>
#include <boost/system/error_code.hpp>

namespace valdori::util::detail {

namespace asio = boost::asio;
using boost::system::error_code;

struct WaitRegistryCore;

class WaitOp {
 public:
  using Handler = asio::any_completion_handler<void(error_code)>;

  WaitOp() = default;
  WaitOp(const WaitOp&) = delete;
  WaitOp& operator=(const WaitOp&) = delete;
  virtual ~WaitOp();

  // Takes the handler of the suspended operation and registers the op with the execution
  // context of the handler's executor. `connect` receives the cancellation slot of the
  // type-erased handler (any_completion_handler installs its own state in the handler's
  // slot, so a slot handler must be connected to the erased handler's slot, after erasure).
  // Called once, by the initiating function.
  template <typename H, typename Connect>
  void arm(H&& handler, Connect&& connect) {
    auto ex = asio::get_associated_executor(handler);
    asio::any_io_executor tracked = asio::prefer(ex, asio::execution::outstanding_work.tracked);
    asio::execution_context& ctx = asio::query(ex, asio::execution::context);
    Handler erased(std::forward<H>(handler));
    std::forward<Connect>(connect)(asio::get_associated_cancellation_slot(erased));
    attach(ctx, std::move(erased), std::move(tracked));
  }

  // Posts handler(ec) to the handler's executor. Returns false when the op was completed
  // before or its handler was dropped at shutdown. Thread-safe; never runs the handler inline.
  bool complete(error_code ec);

  // Links the op into its registry's list; guarded by the registry's mutex.
  boost::intrusive::list_member_hook<> registry_hook_;

 private:
  friend class WaitRegistry;
  friend class WaitQueue;
  void attach(asio::execution_context& ctx, Handler handler, asio::any_io_executor ex);

  std::shared_ptr<WaitRegistryCore> core_;  // set by attach
  // Guarded by core_->mutex. (An optional, as Asio 1.81's any_completion_handler must not be
  // move-assigned: its move assignment wraps the source instead of moving it.)
  std::optional<Handler> handler_;
  asio::any_io_executor executor_;
  // Guarded by the mutex of the owner whose WaitQueue holds the op.
  std::list<std::shared_ptr<WaitOp>>::iterator queue_position_;
  bool queued_ = false;
};

// A FIFO of waiters with O(1) removal of any of them. Not synchronised: its owner guards it
// with its own mutex.
class WaitQueue {
 public:
  bool empty() const noexcept { return ops_.empty(); }
  std::size_t size() const noexcept { return ops_.size(); }

  void push_back(std::shared_ptr<WaitOp> op) {
    WaitOp& ref = *op;
    ops_.push_back(std::move(op));
    ref.queue_position_ = std::prev(ops_.end());
    ref.queued_ = true;
  }

  template <typename Op = WaitOp>
  Op& front() const {
    return static_cast<Op&>(*ops_.front());
  }

  template <typename Op = WaitOp>
  std::shared_ptr<Op> pop_front() {
    std::shared_ptr<WaitOp> op = std::move(ops_.front());
    ops_.pop_front();
    op->queued_ = false;
    return std::static_pointer_cast<Op>(std::move(op));
  }

  // Removes `op` when it is queued here; returns it, or null when it is not queued.
  std::shared_ptr<WaitOp> remove(WaitOp& op) {
    if (!op.queued_) return nullptr;
    std::shared_ptr<WaitOp> removed = std::move(*op.queue_position_);
    ops_.erase(op.queue_position_);
    op.queued_ = false;
    return removed;
  }

  // Empties the queue, returning its waiters in order.
  std::vector<std::shared_ptr<WaitOp>> take_all() {
    std::vector<std::shared_ptr<WaitOp>> all;
    all.reserve(ops_.size());
    while (!ops_.empty()) all.push_back(pop_front());
    return all;
  }

 private:
  std::list<std::shared_ptr<WaitOp>> ops_;
};

// The per-execution-context service that drops pending handlers at shutdown.
class WaitRegistry : public asio::execution_context::service {
 public:
  using key_type = WaitRegistry;
  static inline asio::execution_context::id id;

  explicit WaitRegistry(asio::execution_context& ctx);
  ~WaitRegistry() override;

  const std::shared_ptr<WaitRegistryCore>& core() const { return core_; }

 private:
  void shutdown() override;
  void drop_all();

  std::shared_ptr<WaitRegistryCore> core_;
};

// The cancellation-slot handler of a waiter: on any cancellation type it asks the owner to
// remove the op (`Owner::cancel_wait(WaitOp&)`), if both still exist. A stale handler left in a
// slot after its op completed finds nothing to remove.
template <typename Owner>
class CancelWait {
 public:
  CancelWait(std::weak_ptr<Owner> owner, std::weak_ptr<WaitOp> op) : owner_(std::move(owner)), op_(std::move(op)) {}

  void operator()(asio::cancellation_type_t type) {
    if ((type & (asio::cancellation_type::terminal | asio::cancellation_type::partial |
                 asio::cancellation_type::total)) == asio::cancellation_type::none) {
      return;
    }
    auto owner = owner_.lock();
    auto op = op_.lock();
    if (owner && op) owner->cancel_wait(*op);
  }

 private:
  std::weak_ptr<Owner> owner_;
  std::weak_ptr<WaitOp> op_;
};

// Arms `op` with a freshly initiated handler whose cancellation slot, if connected, removes
// the op from `owner`.
template <typename Owner, typename H>
void arm_cancellable(const std::shared_ptr<Owner>& owner, const std::shared_ptr<WaitOp>& op, H&& handler) {
  op->arm(std::forward<H>(handler), [&](asio::cancellation_slot slot) {
    if (slot.is_connected()) {
      slot.template emplace<CancelWait<Owner>>(std::weak_ptr<Owner>(owner), std::weak_ptr<WaitOp>(op));
    }
  });
}

// The usual `cancel_wait` of an owner whose waiters need no more than leaving the queue:
// removes `op` from `queue` under `mutex` and completes it with operation_aborted.
inline void cancel_queued(std::mutex& mutex, WaitQueue& queue, WaitOp& op) {
  std::shared_ptr<WaitOp> removed;
  {
    std::lock_guard lock(mutex);
    removed = queue.remove(op);
  }
  if (removed) removed->complete(asio::error::operation_aborted);
}

// The awaitable of one wait: `owner->start_wait(op, handler)` is called with the suspended
// coroutine's handler. Completes when the op is completed; throws system_error on an error.
// (Arguments by reference, so that a co_await of this call has no temporaries but the
// awaitable: GCC 12 destroys some temporaries of a co_await expression twice.)
template <typename Owner, typename Op>
asio::awaitable<void> async_wait(const std::shared_ptr<Owner>& owner, const std::shared_ptr<Op>& op) {
  return asio::async_initiate<const asio::use_awaitable_t<>, void(error_code)>(
      [owner, op](auto handler) { owner->start_wait(op, std::move(handler)); }, asio::use_awaitable);
}

}  // namespace valdori::util::detail
