#include "util/runtime/detail/wait_op.hpp"

#include <vector>

namespace valdori::util::detail {

using OpList = boost::intrusive::list<
    WaitOp, boost::intrusive::member_hook<WaitOp, boost::intrusive::list_member_hook<>, &WaitOp::registry_hook_>>;

struct WaitRegistryCore {
  std::mutex mutex;
  OpList ops;  // the armed ops whose handler has not been taken yet
};

WaitOp::~WaitOp() {
  if (core_) {
    std::lock_guard lock(core_->mutex);
    if (registry_hook_.is_linked()) core_->ops.erase(core_->ops.iterator_to(*this));
  }
  // An op destroyed with its handler still in it was abandoned by its owner; the handler goes
  // with it, outside the lock (members are destroyed after this body).
}

void WaitOp::attach(asio::execution_context& ctx, Handler handler, asio::any_io_executor ex) {
  auto& registry = asio::use_service<WaitRegistry>(ctx);
  core_ = registry.core();
  std::lock_guard lock(core_->mutex);
  handler_.emplace(std::move(handler));
  executor_ = std::move(ex);
  core_->ops.push_back(*this);
}

bool WaitOp::complete(error_code ec) {
  if (!core_) return false;
  std::optional<Handler> handler;
  asio::any_io_executor ex;
  {
    std::lock_guard lock(core_->mutex);
    if (!handler_) return false;
    handler.emplace(std::move(*handler_));
    handler_.reset();
    ex = std::move(executor_);
    if (registry_hook_.is_linked()) core_->ops.erase(core_->ops.iterator_to(*this));
  }
  asio::post(ex, [h = Handler(std::move(*handler)), ec]() mutable { std::move(h)(ec); });
  return true;
}

WaitRegistry::WaitRegistry(asio::execution_context& ctx)
    : asio::execution_context::service(ctx), core_(std::make_shared<WaitRegistryCore>()) {}

WaitRegistry::~WaitRegistry() { drop_all(); }

void WaitRegistry::shutdown() { drop_all(); }

void WaitRegistry::drop_all() {
  // Destroying a handler may destroy coroutine frames whose destructors end or start other
  // waits, so the handlers are taken under the lock and destroyed after it, until none is left.
  for (;;) {
    std::vector<std::optional<WaitOp::Handler>> dropped;
    std::vector<asio::any_io_executor> executors;
    {
      std::lock_guard lock(core_->mutex);
      while (!core_->ops.empty()) {
        WaitOp& op = core_->ops.front();
        core_->ops.pop_front();
        dropped.push_back(std::move(op.handler_));
        op.handler_.reset();
        executors.push_back(std::move(op.executor_));
      }
    }
    if (dropped.empty()) return;
  }
}

}  // namespace valdori::util::detail
