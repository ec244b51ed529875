#include <vector>

#include "agent/agent/inner/agent_inner.hpp"
#include "util/log/log.hpp"

namespace valdori::agent {
namespace {

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::inner">(); }

}  // namespace

boost::asio::awaitable<void> AgentInner::shutdown(std::shared_ptr<AgentInner> inner) {
  VLOG_TRACE(lg(), "Cancel agent token");
  // Before the lock: the tasks that do not need it start ending while we wait for it.
  inner->token.cancel();
  const util::RwLock::WriteGuard guard = co_await inner->state_lock.write();
  NetworkMap& networks = inner->state.config.networks;
  std::vector<util::Url> urls;
  urls.reserve(networks.size());
  for (const auto& [url, network] : networks) urls.push_back(url);
  for (const util::Url& url : urls) {
    if (const auto found = networks.find(url); found != networks.end()) found->second.desired_state = {};
    apply_desired_state(inner, networks, url);
  }
}

}  // namespace valdori::agent
