// The handle of one background task that returns nothing: the task runs on its own strand until
// it ends, is aborted, or its handle is dropped, which aborts it too (the task belongs to
// whoever holds the handle). A TaskSet of one member underneath.
#pragma once

#include <memory>
#include <optional>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include "util/runtime/task_set.hpp"

namespace valdori::util {

class TaskHandle {
 public:
  TaskHandle(boost::asio::any_io_executor executor, boost::asio::awaitable<void> task)
      : set_(std::make_unique<TaskSet<void>>(std::move(executor))) {
    set_->spawn(std::move(task));
  }

  void abort() { set_->abort_all(); }
  bool finished() const { return set_->running() == 0; }
  // How the task ended; nullopt once that has been taken.
  boost::asio::awaitable<std::optional<TaskOutcome<void>>> join() { return set_->join_next(); }

 private:
  std::unique_ptr<TaskSet<void>> set_;
};

}  // namespace valdori::util
