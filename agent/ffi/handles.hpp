// The objects behind the C interface's opaque handles, and the guard every export runs its work
// in so that nothing but a result code crosses into the host.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include <spdlog/logger.h>

#include "agent/agent/agent.hpp"
#include "agent/agent/config.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/runtime/runtime.hpp"
#include "util/text/debug_string.hpp"
#include "valdori_agent.h"

struct RuntimePtr {
  std::unique_ptr<valdori::util::Runtime> runtime;
};

struct AgentConfigPtr {
  std::unique_ptr<valdori::agent::AgentConfig> config;
};

struct AgentPtr {
  std::unique_ptr<valdori::agent::Agent> agent;
};

struct TunDevicePtr {
  std::shared_ptr<valdori::platform::TunDevice> device;  // the host's reference
};

namespace valdori::ffi {

// The log target of every export.
spdlog::logger& lg();

// Runs `work` and gives its result; an exception becomes `on_failure` and an ERROR event, so
// that no exception reaches the host.
template <class T, class F>
T guarded(std::string_view export_name, T on_failure, F&& work) noexcept {
  try {
    return std::forward<F>(work)();
  } catch (const std::exception& e) {
    try {
      lg().error("{} failed: {}", export_name, util::text::escape_controls(e.what()));
    } catch (...) {
    }
  } catch (...) {
    try {
      lg().error("{} failed", export_name);
    } catch (...) {
    }
  }
  return on_failure;
}

template <class F>
void guarded_void(std::string_view export_name, F&& work) noexcept {
  guarded(export_name, 0, [&] {
    std::forward<F>(work)();
    return 0;
  });
}

// The text of a C string argument when it is UTF-8.
std::optional<std::string_view> utf8_arg(const char* text);

// True, after an ERROR event, when the calling thread is one of the runtime's: a blocking call
// there would wait for itself.
bool refuse_on_runtime_thread(const util::Runtime& runtime, std::string_view export_name);

}  // namespace valdori::ffi
