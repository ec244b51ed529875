// Process set-up: the version text, logging, and the runtime the agent runs on.
#include <atomic>
#include <memory>
#include <string>

#include "agent/ffi/handles.hpp"
#include "agent/version/version_info.hpp"
#include "platform/oslog/oslog.hpp"
#include "platform/oslog/oslog_sink.hpp"
#include "util/log/log.hpp"
#include "util/text/utf8.hpp"

namespace valdori::ffi {

spdlog::logger& lg() { return log::module_logger<"valdori_agent::ffi">(); }

std::optional<std::string_view> utf8_arg(const char* text) {
  const std::string_view view(text);
  if (!util::text::is_valid_utf8(view)) return std::nullopt;
  return view;
}

bool refuse_on_runtime_thread(const util::Runtime& runtime, std::string_view export_name) {
  if (!runtime.in_runtime_thread()) return false;
  VLOG_ERROR(lg(), "{} called on one of the runtime's own threads: refused, it would wait for itself", export_name);
  return true;
}

}  // namespace valdori::ffi

using valdori::ffi::guarded;
using valdori::ffi::guarded_void;

extern "C" {

const char* valdori_agent_version(void) {
  // Built once (thread-safe static initialisation), never freed.
  static const std::string text = [] {
    const valdori::version::VersionInfo info;
    return info.version + " (" + info.full_commit() + ")";
  }();
  return text.c_str();
}

int32_t valdori_agent_init_logging(void) {
  return guarded("valdori_agent_init_logging", VALDORI_AGENT_ERR_GENERIC, [] {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return VALDORI_AGENT_ERR_GENERIC;
    auto os_log = std::make_shared<const valdori::platform::OsLog>("valdori-agent", "default");
    valdori::log::add_sink(std::make_shared<valdori::platform::OsLogSink>(std::move(os_log)));
    valdori::log::remove_console_sink();
    valdori::log::set_level(valdori::log::Level::trace);
    return VALDORI_AGENT_OK;
  });
}

int32_t valdori_agent_runtime(RuntimePtr** out) {
  if (out == nullptr) return VALDORI_AGENT_ERR_GENERIC;
  return guarded("valdori_agent_runtime", VALDORI_AGENT_ERR_GENERIC, [&] {
    auto handle = std::make_unique<RuntimePtr>(RuntimePtr{std::make_unique<valdori::util::Runtime>()});
    *out = handle.release();
    return VALDORI_AGENT_OK;
  });
}

void valdori_agent_runtime_free(RuntimePtr* runtime) {
  if (runtime == nullptr) return;
  guarded_void("valdori_agent_runtime_free", [&] {
    // Joining the runtime's threads from one of them would never end: the handle is left alone.
    if (valdori::ffi::refuse_on_runtime_thread(*runtime->runtime, "valdori_agent_runtime_free")) return;
    delete runtime;
  });
}

}  // extern "C"
