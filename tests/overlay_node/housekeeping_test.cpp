// The housekeeping runner and its pass: when passes run, how the runner stops, and what a pass
// does with the bindings it adds.
#include "overlay_node/node/housekeeping.hpp"

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>

#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;

constexpr std::uint64_t kHour = 3'600'000;  // ms: no second tick within a test

// Binding the loopback address only, whatever interfaces the machine has.
const std::vector<boost::asio::ip::address> kLoopbackAddrs{boost::asio::ip::make_address("127.0.0.1")};

class Housekeeping : public NodeTaskTest {
 protected:
  void start_runner() {
    boost::asio::co_spawn(boost::asio::make_strand(io), node::housekeeping_runner(node, token),
                          [this](std::exception_ptr error) {
                            if (error) std::rethrow_exception(error);
                            runner_ended = true;
                          });
  }

  std::size_t passes() const { return count(Level::trace, "Finished housekeeping"); }
  std::size_t count(Level level, const std::string& text) const {
    const auto texts = logs.texts(level);
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
  }

  bool runner_ended = false;
};

TEST_F(Housekeeping, TheFirstPassRunsAtOnceAndCancellationStopsTheRunnerBetweenPasses) {
  make_node({.udp_addrs = kLoopbackAddrs, .housekeeping_interval = kHour});
  start_runner();
  ASSERT_TRUE(run_until([&] { return passes() == 1; }));

  token.cancel();
  ASSERT_TRUE(run_until([&] { return runner_ended; }));
  EXPECT_TRUE(logs.has(Level::trace, "Housekeeping cancelled"));
  EXPECT_TRUE(logs.has(Level::trace, "Housekeeping runner stopped"));
  EXPECT_EQ(passes(), 1u);
}

TEST_F(Housekeeping, AZeroIntervalFallsBackToTheDefault) {
  make_node({.udp_addrs = kLoopbackAddrs, .housekeeping_interval = 0});
  start_runner();
  ASSERT_TRUE(run_until([&] { return passes() == 1; }));
  EXPECT_TRUE(logs.has_containing(Level::warn, "Housekeeping interval of 0 ms"));
  token.cancel();
  ASSERT_TRUE(run_until([&] { return runner_ended; }));
  EXPECT_EQ(passes(), 1u);  // no busy loop of passes
}

TEST_F(Housekeeping, AFailedPassIsRetriedAtTheNextTick) {
  make_node({.udp_addrs = kLoopbackAddrs, .housekeeping_interval = 1});
  // A node peer with traffic whose short id cannot go into a HELLO makes its step fail.
  const auto peer = admit_other();
  peer->set_rx_short_id(p2p::message::ShortId{{0x1E, 0x3F, 0x50, 0x01}});
  peer->app_rx(now);
  start_runner();

  ASSERT_TRUE(run_until([&] { return count(Level::trace, "Start housekeeping") >= 2; }));
  EXPECT_EQ(passes(), 0u);
  EXPECT_TRUE(logs.has_containing(Level::err, "Error in housekeeping: "));
  EXPECT_FALSE(runner_ended);
  peer->set_rx_short_id(p2p::message::ShortId::random());
  EXPECT_TRUE(run_until([&] { return passes() >= 1; }));
  token.cancel();
  EXPECT_TRUE(run_until([&] { return runner_ended; }));
}

TEST_F(Housekeeping, BindingsThatAPassAddsGetReaders) {
  make_node({.udp_addrs = kLoopbackAddrs, .bound = false});
  const auto pass = run(node::housekeeping(node));
  ASSERT_TRUE(pass);
  const auto bindings = node->udp_bindings();
  ASSERT_EQ(bindings->size(), 1u);

  // A reader answers what arrives: here, with its warning about a datagram that is no message.
  auto sender = remote_socket();
  sender.send_to(boost::asio::buffer(Bytes{1, 2, 3}), bindings->front()->local_addr());
  EXPECT_TRUE(run_until([&] { return logs.has_containing(Level::warn, "Error processing packet: "); }));
  token.cancel();
  EXPECT_TRUE(run_until([&] { return logs.has_containing(Level::trace, "UDP binding cancelled: "); }));
}

}  // namespace
}  // namespace valdori::node_test
