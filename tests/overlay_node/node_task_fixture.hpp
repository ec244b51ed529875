// The node tasks driven on the node-state fixture of the core tests: coroutines run to their end
// on the fixture's io_context in the test thread, a UDP socket stands in for a remote peer, and
// a link writer records the frames handed to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/udp.hpp>

#include "p2p_core/peer/link_writer.hpp"
#include "tests/p2p_core/node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"
#include "tests/support/wait_until.hpp"

namespace valdori::node_test {

using p2p::node_test::addr;
using p2p::node_test::kHelloTimeout;
using p2p::node_test::kStart;
using p2p::node_test::must;
using p2p::node_test::other_id;
using p2p::node_test::second_super_id;
using p2p::node_test::self_id;
using p2p::node_test::super_id;
using Bytes = std::vector<std::uint8_t>;

using valdori::testing::kWaitLimit;

class RecordingLinkWriter : public p2p::peer::LinkWriter {
 public:
  explicit RecordingLinkWriter(std::error_code failure = {}) : failure_(failure) {}

  boost::asio::awaitable<std::error_code> write_frame(Bytes message) override {
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(message));
    co_return failure_;
  }
  std::vector<Bytes> frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::error_code failure_;
  mutable std::mutex mutex_;
  std::vector<Bytes> frames_;
};

class NodeTaskTest : public p2p::node_test::NodeFixture {
 protected:
  // The tests log at every level into the capture; the console would drown in it.
  NodeTaskTest() { log::remove_console_sink(); }

  // Runs the io_context until `condition` holds; false when `limit` passes first.
  bool run_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      io.restart();
      io.run_one_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // Runs `task` to its end and returns its result.
  template <typename T>
  T run(boost::asio::awaitable<T> task) {
    std::optional<T> result;
    boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr error, T value) {
      if (error) std::rethrow_exception(error);
      result = std::move(value);
    });
    EXPECT_TRUE(run_until([&] { return result.has_value(); }));
    return std::move(*result);
  }

  // A socket standing in for a remote peer on loopback.
  boost::asio::ip::udp::socket remote_socket() {
    return boost::asio::ip::udp::socket(io,
                                        boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
  }

  // The datagrams waiting on `socket`, taken without blocking.
  static std::vector<Bytes> received(boost::asio::ip::udp::socket& socket) {
    std::vector<Bytes> out;
    Bytes buffer(2048);
    boost::system::error_code ec;
    socket.non_blocking(true, ec);
    while (true) {
      const std::size_t n = socket.receive(boost::asio::buffer(buffer), 0, ec);
      if (ec) break;
      out.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return out;
  }

  testing::LogCapture logs;
};

}  // namespace valdori::node_test
