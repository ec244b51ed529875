// For targets that feed their input to a reader through a real socket: the two ends of a local
// stream socket, and running a coroutine on an io_context to its end.
#pragma once

#include <sys/socket.h>

#include <array>
#include <exception>
#include <utility>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "fuzz/fuzz_input.hpp"

namespace valdori::fuzz {

// The file descriptors of a connected pair of local stream sockets.
inline std::array<int, 2> socket_pair() {
  std::array<int, 2> fds{-1, -1};
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()) == 0);
  return fds;
}

// Runs `task`, and whatever else is on `io`, until all has ended; the task must have finished,
// without an exception.
inline void run_to_end(boost::asio::io_context& io, boost::asio::awaitable<void> task) {
  bool done = false;
  boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr error) {
    check(!error);
    done = true;
  });
  io.run();
  check(done);
}

}  // namespace valdori::fuzz
