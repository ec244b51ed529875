// The agent's lifecycle through the C interface: the tunnel device, start, shutdown, free, the
// UDP bindings, and the network-change record the host's callback receives.
#include <string>
#include <utility>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "agent/agent/netif/tun_runner.hpp"
#include "agent/ffi/handles.hpp"
#include "util/log/log.hpp"

namespace valdori::ffi {
namespace {

using util::net::Ipv4Net;

std::string join(const std::optional<std::vector<Ipv4Net>>& list) {
  if (!list) return {};
  std::string text;
  for (const Ipv4Net& net : *list) {
    if (!text.empty()) text += ',';
    text += net.to_string();
  }
  return text;
}

// The listener the agent calls: renders the change as the host's record and calls the host
// once; the texts live until the host returns.
std::function<void(agent::NetworkChange)> adapter(network_change_callback callback) {
  if (callback == nullptr) return {};
  return [callback](agent::NetworkChange change) {
    const std::string ips = join(change.ips);
    const std::string routes = join(change.routes);
    const std::string dns_server = change.dns_server ? change.dns_server->to_string() : std::string();
    const NetworkChange record{ips.c_str(), routes.c_str(), dns_server.c_str()};
    VLOG_TRACE(lg(), "Calling network_change_callback with NetworkChange: ips='{}', routes='{}'", ips, routes);
    callback(&record);
  };
}

}  // namespace
}  // namespace valdori::ffi

using valdori::ffi::guarded;
using valdori::ffi::guarded_void;
using valdori::ffi::lg;
using valdori::ffi::refuse_on_runtime_thread;

extern "C" {

const char* valdori_agent_network_change_ips(const NetworkChange* change) {
  return change != nullptr ? change->ips : nullptr;
}

const char* valdori_agent_network_change_routes(const NetworkChange* change) {
  return change != nullptr ? change->routes : nullptr;
}

const char* valdori_agent_network_change_dns_server(const NetworkChange* change) {
  return change != nullptr ? change->dns_server : nullptr;
}

int32_t valdori_agent_tun_device_create(const RuntimePtr* runtime, int32_t fd, TunDevicePtr** out) {
  if (runtime == nullptr || out == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_tun_device_create", VALDORI_AGENT_ERR_GENERIC, [&] {
    if (refuse_on_runtime_thread(*runtime->runtime, "valdori_agent_tun_device_create"))
      return VALDORI_AGENT_ERR_GENERIC;
    auto device = valdori::platform::TunDevice::from_fd(
        valdori::agent::netif::tun_device_executor(runtime->runtime->executor()), fd);
    if (!device) {
      VLOG_TRACE(lg(), "Failed to create TUN device from file descriptor {}", fd);
      return VALDORI_AGENT_ERR_GENERIC;
    }
    // Taken all the same: hosts rely on the result, and a test's socket pair carries packets too.
    (*device)->warn_unless_bare_tun();
    *out = new TunDevicePtr{std::move(*device)};
    return VALDORI_AGENT_OK;
  });
}

void valdori_agent_tun_device_free(TunDevicePtr* tun_device) {
  guarded_void("valdori_agent_tun_device_free", [&] { delete tun_device; });
}

int32_t valdori_agent_start(const RuntimePtr* runtime, const AgentConfigPtr* config, const char* config_path,
                            const TunDevicePtr* tun_device, network_change_callback callback, void* /*reserved*/,
                            AgentPtr** out) {
  if (runtime == nullptr || config == nullptr || config_path == nullptr || out == nullptr) {
    return VALDORI_AGENT_ERR_GENERIC;
  }
  return guarded("valdori_agent_start", VALDORI_AGENT_ERR_GENERIC, [&] {
    const auto path = valdori::ffi::utf8_arg(config_path);
    if (!path) return VALDORI_AGENT_ERR_UTF8;
    valdori::util::Runtime& rt = *runtime->runtime;
    if (refuse_on_runtime_thread(rt, "valdori_agent_start")) return VALDORI_AGENT_ERR_GENERIC;
    valdori::agent::PlatformDependent platform{tun_device != nullptr ? tun_device->device : nullptr,
                                               valdori::ffi::adapter(callback)};
    auto agent = rt.block_on(valdori::agent::Agent::start(rt.executor(), config->config->clone(),
                                                          std::filesystem::path(*path), std::move(platform)));
    if (!agent) return agent.error().code();
    *out = new AgentPtr{std::make_unique<valdori::agent::Agent>(std::move(*agent))};
    return VALDORI_AGENT_OK;
  });
}

int32_t valdori_agent_shutdown(const RuntimePtr* runtime, const AgentPtr* agent) {
  if (runtime == nullptr || agent == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_shutdown", VALDORI_AGENT_ERR_GENERIC, [&] {
    valdori::util::Runtime& rt = *runtime->runtime;
    if (refuse_on_runtime_thread(rt, "valdori_agent_shutdown")) return VALDORI_AGENT_ERR_GENERIC;
    rt.block_on(agent->agent->shutdown());
    return VALDORI_AGENT_OK;
  });
}

void valdori_agent_free(AgentPtr* agent) {
  guarded_void("valdori_agent_free", [&] { delete agent; });
}

int32_t valdori_agent_cancel_udp_bindings(const AgentPtr* agent) {
  if (agent == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_cancel_udp_bindings", VALDORI_AGENT_ERR_GENERIC, [&] {
    VLOG_TRACE(lg(), "FFI: Starting UDP bindings cancellation");
    VLOG_TRACE(lg(), "FFI: Canceling all UDP bindings");
    const auto bindings = agent->agent->node()->inner()->udp_bindings();
    VLOG_TRACE(lg(), "FFI: Found {} UDP bindings", bindings->size());
    for (const auto& binding : *bindings) {
      VLOG_TRACE(lg(), "FFI: Canceling UDP binding at {}", binding->local_addr());
      binding->cancel_binding();
    }
    VLOG_TRACE(lg(), "FFI: All UDP bindings canceled");
    VLOG_TRACE(lg(), "FFI: Operation successful");
    return VALDORI_AGENT_OK;
  });
}

}  // extern "C"
