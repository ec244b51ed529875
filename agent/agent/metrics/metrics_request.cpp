#include "agent/agent/metrics/metrics_request.hpp"

#include "agent/agent/metrics/os_facts.hpp"
#include "agent/version/version_info.hpp"
#include "p2p_core/net/get_addrs.hpp"
#include "util/log/log.hpp"

namespace valdori::agent::metrics {

boost::asio::awaitable<controller::models::UpdateNodeMetricsRequest> build_metrics_request(
    platform::ProcessRunner& runner, std::optional<std::string> ui_version, std::optional<std::string> error_logs) {
  controller::models::UpdateNodeMetricsRequest request;
  if (auto addrs = p2p::net::get_addrs()) {
    for (const auto& addr : *addrs) request.ips.push_back(addr.addr.to_string());
  } else {
    VLOG_TRACE(log::module_logger<"valdori_agent::agent::metrics">(),
               "Failed to get physical network interface IPs: {}", addrs.error().message());
  }
  OsFacts facts = co_await os_facts(runner);
  request.os = std::move(facts.os);
  request.os_version = std::move(facts.os_version);
  request.os_arch = std::string(build_arch());
  const version::VersionInfo info;
  request.valdori_agent_version = info.version + " (" + info.full_commit() + ")";
  request.valdori_ui_version = std::move(ui_version);
  request.error_logs = std::move(error_logs);
  co_return request;
}

}  // namespace valdori::agent::metrics
