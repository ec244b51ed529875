// The status report through the C interface.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "agent/agent/status/status.hpp"
#include "agent/ffi/handles.hpp"
#include "util/log/log.hpp"

namespace valdori::ffi {
namespace {

// A copy the host frees with valdori_agent_status_free. Without memory for it the process ends,
// as it would on any other allocation failure the interface cannot report.
char* c_text(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) std::abort();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// The status task: the snapshot, then its text with secrets masked. It logs as the export does.
boost::asio::awaitable<std::string> report_without_secrets(std::shared_ptr<agent::AgentInner> inner) {
  const agent::status::Status status = co_await agent::status::Status::from_agent(std::move(inner));
  VLOG_TRACE(lg(), "Status generated");
  std::string report = agent::status::to_string_with_secrets(status, false, std::chrono::system_clock::now());
  VLOG_TRACE(lg(), "Status converted to string without secrets");
  co_return report;
}

}  // namespace
}  // namespace valdori::ffi

using valdori::ffi::lg;

extern "C" {

char* valdori_agent_status(const RuntimePtr* runtime, const AgentPtr* agent) {
  using valdori::ffi::c_text;
  if (runtime == nullptr || agent == nullptr) return c_text("Status not available: no runtime or no agent given");
  char* text = valdori::ffi::guarded("valdori_agent_status", static_cast<char*>(nullptr), [&] {
    VLOG_TRACE(lg(), "FFI: Starting agent status request");
    valdori::util::Runtime& rt = *runtime->runtime;
    std::shared_ptr<valdori::agent::AgentInner> inner = agent->agent->inner();
    VLOG_TRACE(lg(), "FFI: Converted runtime and agent pointers");
    if (valdori::ffi::refuse_on_runtime_thread(rt, "valdori_agent_status")) {
      return c_text("Status not available: not allowed on a runtime thread");
    }
    const std::string report = rt.block_on(valdori::ffi::report_without_secrets(std::move(inner)));
    VLOG_TRACE(lg(), "FFI: Status request completed successfully");
    if (report.find('\0') != std::string::npos) return c_text("Status generation failed");
    return c_text(report);
  });
  return text != nullptr ? text : c_text("Status generation failed");
}

void valdori_agent_status_free(char* status) { std::free(status); }

}  // extern "C"
