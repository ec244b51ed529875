// A strand for a coroutine of the runtime, held as an any_io_executor.
//
// A strand over the type-erased executor does not fit the small-object buffer of
// any_io_executor, so every operation the coroutine starts (which copies its executor to track
// the work) would box a copy on the heap. A strand over the io_context's own executor fits, so
// the packet path's operations allocate nothing for their executor.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>

namespace valdori::util {

inline boost::asio::any_io_executor make_task_strand(const boost::asio::any_io_executor& executor) {
  if (const auto* io = executor.target<boost::asio::io_context::executor_type>()) {
    return boost::asio::make_strand(*io);
  }
  return boost::asio::make_strand(executor);
}

}  // namespace valdori::util
