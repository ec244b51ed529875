// The node's monitoring task: what it does when the supervised task ends early, fails, or stops
// with the node.
#include "overlay_node/node/monitor.hpp"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "tests/overlay_node/node_task_fixture.hpp"
#include "util/log/log.hpp"

namespace valdori::node_test {
namespace {

namespace asio = boost::asio;
using log::Level;

struct MonitorCase {
  std::string name;
  std::function<asio::awaitable<void>(util::CancellationToken)> member;
  bool stopped_by_the_node;  // the token is cancelled from outside
  std::vector<std::string> traces;
  std::vector<std::string> errors;
};

class Monitor : public NodeTaskTest, public ::testing::WithParamInterface<MonitorCase> {};

TEST_P(Monitor, StopsTheNodeUnlessTheNodeStoppedFirst) {
  const util::CancellationToken node_token;
  const auto tasks = std::make_shared<util::TaskSet<void>>(io.get_executor());
  tasks->spawn(GetParam().member(node_token));
  bool done = false;
  asio::co_spawn(io, node::monitor(tasks, node_token, log::logger("valdori_p2p::node::node")),
                 [&](std::exception_ptr) { done = true; });
  if (GetParam().stopped_by_the_node) node_token.cancel();
  ASSERT_TRUE(run_until([&] { return done; }));

  EXPECT_TRUE(node_token.is_cancelled());
  EXPECT_EQ(logs.texts(Level::trace), GetParam().traces);
  EXPECT_EQ(logs.texts(Level::err), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Monitor,
    ::testing::Values(MonitorCase{"EndsEarly",
                                  [](util::CancellationToken) -> asio::awaitable<void> { co_return; },
                                  false,
                                  {"Task prematurely finished. Cancel token.", "Monitoring task cancelled."},
                                  {}},
                      MonitorCase{"Fails",
                                  [](util::CancellationToken) -> asio::awaitable<void> {
                                    throw std::runtime_error("pass broke");
                                    co_return;
                                  },
                                  false,
                                  {"Monitoring task cancelled."},
                                  {"Task failed. Cancel token: pass broke"}},
                      MonitorCase{"FailsWithATextOfManyLines",
                                  [](util::CancellationToken) -> asio::awaitable<void> {
                                    throw std::runtime_error("pass broke\nERROR forged");
                                    co_return;
                                  },
                                  false,
                                  {"Monitoring task cancelled."},
                                  {"Task failed. Cancel token: pass broke\\nERROR forged"}},
                      MonitorCase{
                          "StopsWithTheNode",
                          [](util::CancellationToken token) -> asio::awaitable<void> { co_await token.cancelled(); },
                          true,
                          {"Monitoring task cancelled."},
                          {}}),
    [](const ::testing::TestParamInfo<MonitorCase>& param) { return param.param.name; });

// A member that would outlast the node (it waits on something other than the token) is aborted
// once another fails: the monitor does not wait for it, and nothing is left running.
TEST_F(NodeTaskTest, AFailureAbortsTheMembersLeft) {
  const util::CancellationToken node_token;
  auto tasks = std::make_shared<util::TaskSet<void>>(io.get_executor());
  bool aborted = false;
  tasks->spawn([](bool& aborted_flag) -> asio::awaitable<void> {
    asio::steady_timer later(co_await asio::this_coro::executor, std::chrono::hours(1));
    const auto [error] = co_await later.async_wait(asio::as_tuple(asio::use_awaitable));
    aborted_flag = error == asio::error::operation_aborted;
  }(aborted));
  tasks->spawn([]() -> asio::awaitable<void> {
    throw std::runtime_error("pass broke");
    co_return;
  }());
  bool done = false;
  asio::co_spawn(io, node::monitor(std::move(tasks), node_token, log::logger("valdori_p2p::node::node")),
                 [&](std::exception_ptr) { done = true; });
  EXPECT_TRUE(run_until([&] { return done && aborted; }));
}

}  // namespace
}  // namespace valdori::node_test
