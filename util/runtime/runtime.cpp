#include "util/runtime/runtime.hpp"

#include <exception>
#include <stdexcept>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::util {

namespace {

thread_local const Runtime* current_runtime = nullptr;

spdlog::logger& runtime_log() { return log::logger("valdori_util::runtime"); }

// Ties a runtime's shared io_context to its runtime, so that code given only an executor finds
// the lanes.
class RuntimeLink : public boost::asio::execution_context::service {
 public:
  using key_type = RuntimeLink;
  static inline boost::asio::execution_context::id id;
  explicit RuntimeLink(boost::asio::execution_context& context, Runtime* owner = nullptr)
      : service(context), runtime(owner) {}
  Runtime* const runtime;

 private:
  void shutdown() override {}
};

}  // namespace

std::size_t Runtime::default_thread_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

Runtime::Runtime() : Runtime(default_thread_count()) {}

Runtime::Runtime(std::size_t threads)
    : io_(static_cast<int>(threads)), work_(io_.get_executor()), thread_count_(threads) {
  if (threads == 0) throw std::invalid_argument("Runtime: thread count must be at least 1");
  boost::asio::make_service<RuntimeLink>(io_, this);
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { run_thread(io_); });
}

Runtime::~Runtime() {  // NOLINT(bugprone-exception-escape): see the declaration
  shutdown();
  for (auto& lane : lanes_) {
    if (lane) lane->io.destroy_handlers();
  }
  io_.destroy_handlers();
}

Runtime::executor_type Runtime::lane(std::size_t index) {
  if (index >= kLanes) throw std::out_of_range("Runtime::lane: no such lane");
  std::lock_guard lock(mutex_);
  if (shut_down_) return io_.get_executor();
  auto& lane = lanes_[index];
  if (!lane) {
    lane = std::make_unique<Lane>();
    lane->thread = std::thread([this, io = &lane->io] { run_thread(*io); });
  }
  return lane->io.get_executor();
}

Runtime* Runtime::of(const boost::asio::any_io_executor& executor) {
  if (!executor) return nullptr;
  auto& context = boost::asio::query(executor, boost::asio::execution::context);
  if (!boost::asio::has_service<RuntimeLink>(context)) return nullptr;
  return boost::asio::use_service<RuntimeLink>(context).runtime;
}

DirectionLanes direction_lanes(const boost::asio::any_io_executor& executor) {
  Runtime* runtime = Runtime::of(executor);
  if (runtime == nullptr) return {executor, executor};
  return {runtime->lane(0), runtime->lane(1)};
}

void Runtime::run_thread(boost::asio::io_context& io) {
  current_runtime = this;
#if defined(__linux__)
  pthread_setname_np(pthread_self(), &io == &io_ ? "valdori-rt" : "valdori-lane");
#endif
  // A handler that throws must not take the thread down with it: log and keep running.
  for (;;) {
    try {
      io.run();
      break;
    } catch (const std::exception& e) {
      VLOG_ERROR(runtime_log(), "uncaught exception in a runtime handler: {}", text::escape_controls(e.what()));
    } catch (...) {
      VLOG_ERROR(runtime_log(), "uncaught non-standard exception in a runtime handler");
    }
  }
  current_runtime = nullptr;
}

void Runtime::shutdown() {
  if (in_runtime_thread()) {
    throw std::logic_error("Runtime::shutdown called from one of the runtime's own threads");
  }
  CallList calls;
  {
    std::lock_guard lock(mutex_);
    if (shut_down_) return;
    shut_down_ = true;
    work_.reset();
    io_.stop();
    for (auto& lane : lanes_) {
      if (lane) lane->io.stop();
    }
  }
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
  for (auto& lane : lanes_) {
    if (lane && lane->thread.joinable()) lane->thread.join();
  }
  {
    std::lock_guard lock(mutex_);
    for (auto& call : calls_) calls.push_back(call);
  }
  for (auto& call : calls) {
    call->fail(std::make_exception_ptr(std::runtime_error("the runtime was shut down")));
  }
}

bool Runtime::is_shut_down() const {
  std::lock_guard lock(mutex_);
  return shut_down_;
}

bool Runtime::in_runtime_thread() const noexcept { return current_runtime == this; }

bool Runtime::in_any_runtime_thread() noexcept { return current_runtime != nullptr; }

Runtime::CallList::iterator Runtime::begin_block_on(std::shared_ptr<detail::BlockOnCall> call) {
  if (in_runtime_thread()) {
    throw std::logic_error("Runtime::block_on called from one of the runtime's own threads");
  }
  std::lock_guard lock(mutex_);
  if (shut_down_) throw std::runtime_error("Runtime::block_on: the runtime is shut down");
  calls_.push_back(std::move(call));
  return std::prev(calls_.end());
}

void Runtime::end_block_on(CallList::iterator it) {
  std::lock_guard lock(mutex_);
  calls_.erase(it);
}

}  // namespace valdori::util
