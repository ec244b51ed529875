// The runtime: one io_context run by one thread per processor, and on request a few lanes: an
// io_context of its own run by exactly one more thread each.
//
// A lane is for work that must not hop threads: everything started on one lane runs on its one
// thread, so handing an item from one of its tasks to another resumes the receiver on the same
// thread (no wake-up of a sleeping thread, no lock contention), and I/O objects made on the lane
// complete there too. Lane threads start on the first `lane()` call. Threads are stopped and
// joined by `shutdown()` or the destructor. Coroutines are started on `executor()` (co_spawn, TaskSet) or, from a
// thread that is not one of the runtime's, run to completion with `block_on`.
//
// Asio's cancellation signals are not thread-safe: a coroutine that races operations (the
// awaitable operators, with_timeout, until_cancelled) should run on a strand, so that the
// cancellation of the losing side is serialised with the coroutine itself. `block_on` and
// TaskSet do that for the coroutines they start; for co_spawn, use
// `boost::asio::make_strand(runtime.executor())`.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>

#include "util/runtime/detail/boxed.hpp"

namespace valdori::util {

namespace detail {

// One block_on call in flight; completed once, by the coroutine or by shutdown.
class BlockOnCall {
 public:
  virtual ~BlockOnCall() = default;
  void fail(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    if (!done_) {
      done_ = true;
      set_error(std::move(error));
    }
  }

 protected:
  // Runs `set` if the call is not completed yet.
  template <typename F>
  void finish_once(F&& set) {
    std::lock_guard lock(mutex_);
    if (!done_) {
      done_ = true;
      std::forward<F>(set)();
    }
  }
  virtual void set_error(std::exception_ptr error) = 0;

 private:
  std::mutex mutex_;
  bool done_ = false;
};

template <typename T>
class BlockOnCallOf : public BlockOnCall {
 public:
  std::future<boxed_t<T>> future() { return promise_.get_future(); }
  void finish(std::exception_ptr error, boxed_t<T> result) {
    finish_once([&] {
      if (error) {
        promise_.set_exception(std::move(error));
      } else {
        promise_.set_value(std::move(result));
      }
    });
  }

 private:
  void set_error(std::exception_ptr error) override { promise_.set_exception(std::move(error)); }
  std::promise<boxed_t<T>> promise_;
};

}  // namespace detail

class Runtime {
 public:
  using executor_type = boost::asio::io_context::executor_type;

  // One thread per processor (hardware_concurrency, at least 1).
  Runtime();
  // `threads` threads; throws std::invalid_argument for 0.
  explicit Runtime(std::size_t threads);
  // Shuts down. Must not run on one of the runtime's own threads (that ends the program).
  ~Runtime();  // NOLINT(bugprone-exception-escape)
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  static std::size_t default_thread_count();

  static constexpr std::size_t kLanes = 2;
  // The executor of lane `index` (below kLanes), starting its thread on first use. After
  // shutdown it is the shared executor, whose handlers no longer run.
  executor_type lane(std::size_t index);
  // The runtime whose shared io_context `executor` (or a strand over it) runs on; none for an
  // executor of anything else.
  static Runtime* of(const boost::asio::any_io_executor& executor);

  executor_type executor() noexcept { return io_.get_executor(); }
  boost::asio::io_context& context() noexcept { return io_; }
  // The threads of the shared io_context, lanes not counted.
  std::size_t thread_count() const noexcept { return thread_count_; }

  // Stops the io_context and joins the threads; idempotent. Handlers still queued are not run
  // (they are destroyed with the runtime). A block_on call still waiting fails with
  // std::runtime_error. Throws std::logic_error when called from one of the runtime's threads.
  void shutdown();
  bool is_shut_down() const;

  // True on one of this runtime's threads.
  bool in_runtime_thread() const noexcept;
  // True on a thread of any Runtime.
  static bool in_any_runtime_thread() noexcept;

  // Runs `task` on a fresh strand of the runtime and blocks the calling thread until it ends,
  // returning its result or rethrowing its exception. Throws std::logic_error, without running
  // the task, when called from one of the runtime's threads (it would deadlock), and
  // std::runtime_error when the runtime is shut down (before or while waiting).
  template <typename T>
  T block_on(boost::asio::awaitable<T> task);

 private:
  using CallList = std::list<std::shared_ptr<detail::BlockOnCall>>;
  CallList::iterator begin_block_on(std::shared_ptr<detail::BlockOnCall> call);
  void end_block_on(CallList::iterator it);
  void run_thread(boost::asio::io_context& io);

  // An io_context whose pending handlers can be destroyed before any context is: handlers of one
  // may hold I/O objects of another.
  struct Context : boost::asio::io_context {
    using io_context::io_context;
    void destroy_handlers() { shutdown(); }
  };
  struct Lane {
    Lane() : io(1), work(io.get_executor()) {}
    Context io;
    boost::asio::executor_work_guard<executor_type> work;
    std::thread thread;
  };

  Context io_;
  boost::asio::executor_work_guard<executor_type> work_;
  std::size_t thread_count_;
  std::vector<std::thread> threads_;
  mutable std::mutex mutex_;  // guards calls_, lanes_ and shut_down_
  std::array<std::unique_ptr<Lane>, kLanes> lanes_;
  CallList calls_;
  bool shut_down_ = false;
};

// One lane per direction of a packet path, of the runtime `executor` belongs to; for an executor of
// anything else, that executor for both (its tasks then run on strands of it).
struct DirectionLanes {
  boost::asio::any_io_executor outbound;
  boost::asio::any_io_executor inbound;
};
DirectionLanes direction_lanes(const boost::asio::any_io_executor& executor);

template <typename T>
T Runtime::block_on(boost::asio::awaitable<T> task) {
  auto call = std::make_shared<detail::BlockOnCallOf<T>>();
  auto future = call->future();
  auto it = begin_block_on(call);
  boost::asio::co_spawn(boost::asio::make_strand(io_), detail::boxed(std::move(task)),
                        [call](std::exception_ptr error, detail::boxed_t<T> result) {
                          call->finish(std::move(error), std::move(result));
                        });
  struct EndCall {
    Runtime* runtime;
    CallList::iterator it;
    ~EndCall() { runtime->end_block_on(it); }
  } end{this, it};
  if constexpr (std::is_void_v<T>) {
    future.get();
  } else {
    return std::move(*future.get());
  }
}

}  // namespace valdori::util
