#include "agent/agent/agent.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>

#include "overlay_node/node/monitor.hpp"
#include "util/log/log.hpp"
#include "util/runtime/strand.hpp"
#include "util/runtime/task_set.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent">(); }

}  // namespace

asio::awaitable<boost::system::result<Agent, error::Error>> Agent::start(asio::any_io_executor executor,
                                                                         AgentConfig config,
                                                                         std::filesystem::path config_path,
                                                                         PlatformDependent platform) {
  VLOG_INFO(lg(), "Start agent.");
  const bool update_check = config.update_check.value_or(true);
  auto created = co_await AgentInner::create(executor, std::move(config), std::move(config_path), std::move(platform));
  if (!created) {
    VLOG_ERROR(lg(), "Failed to start agent: {}", created.error());
    co_return created.error();
  }
  std::shared_ptr<AgentInner> inner = std::move(*created);
  const util::CancellationToken& token = inner->token;

  auto tasks = std::make_shared<util::TaskSet<void>>(executor);
  tasks->spawn(AgentInner::node_runner(inner, token));
  tasks->spawn(AgentInner::housekeeping_runner(inner, token));
  if (update_check) VLOG_DEBUG(lg(), "Update check is not available on this platform");
  asio::co_spawn(util::make_task_strand(executor), valdori::node::monitor(std::move(tasks), token, lg()),
                 asio::detached);

  VLOG_INFO(lg(), "Agent started.");
  co_return Agent(std::move(inner));
}

Agent::~Agent() {
  if (inner_) VLOG_TRACE(lg(), "Drop agent.");
}

asio::awaitable<void> Agent::shutdown() const {
  VLOG_INFO(lg(), "Shutdown agent.");
  co_await AgentInner::shutdown(inner_);
  VLOG_INFO(lg(), "Agent shut down.");
}

}  // namespace valdori::agent
