// Running a program of the operating system and capturing what it prints. Behind an interface so
// that tests can script the programs' output.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

namespace valdori::platform {

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // The standard output of `program` (found through PATH) run with `args`; nothing when it cannot
  // be started or has not finished within `limit` (it is then killed). Standard error is
  // discarded and the exit status is not looked at.
  virtual boost::asio::awaitable<std::optional<std::string>> run(std::string program, std::vector<std::string> args,
                                                                 std::chrono::milliseconds limit) = 0;
};

// Children spawned with posix_spawnp; their output is read without blocking a runtime thread.
std::shared_ptr<ProcessRunner> make_process_runner(boost::asio::any_io_executor executor);

}  // namespace valdori::platform
