#include "util/log/log.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include "util/log/scoped_fields.hpp"
#include "util/system/env.hpp"

namespace valdori::log {
namespace {

// VALDORI_LOG_LEVEL (trace, debug, info, warn, error, critical or off), read once when the first
// logger is made: what a host that does not set up logging sees on standard error. Else INFO.
Level initial_level() {
  const std::optional<std::string> text = util::system::env_text("LOG_LEVEL");
  if (!text) return Level::info;
  const Level parsed = spdlog::level::from_str(*text);
  return parsed == Level::off && *text != "off" ? Level::info : parsed;
}

// Hands each event to every sink, with the fields of the scopes open on the writing thread.
class Fanout final : public spdlog::sinks::dist_sink_mt {
 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    if (!ScopedFields::any_open()) return spdlog::sinks::dist_sink_mt::sink_it_(msg);
    std::string text(msg.payload.data(), msg.payload.size());
    ScopedFields::append_open(text);
    spdlog::details::log_msg scoped = msg;
    scoped.payload = text;
    spdlog::sinks::dist_sink_mt::sink_it_(scoped);
  }
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<spdlog::logger>> loggers;
  std::shared_ptr<Fanout> fanout = make_fanout();
  std::shared_ptr<spdlog::sinks::sink> console = fanout->sinks().front();
  Level level = initial_level();

  static std::shared_ptr<Fanout> make_fanout() {
    auto sink = std::make_shared<Fanout>();
    sink->add_sink(std::make_shared<spdlog::sinks::stderr_color_sink_mt>());
    sink->set_level(Level::trace);
    return sink;
  }
};

Registry& registry() {
  static Registry* instance = new Registry();  // never destroyed: loggers outlive static teardown
  return *instance;
}

}  // namespace

spdlog::logger& logger(std::string_view target) {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  auto it = reg.loggers.find(std::string(target));
  if (it == reg.loggers.end()) {
    auto lg = std::make_shared<spdlog::logger>(std::string(target), reg.fanout);
    lg->set_level(reg.level);
    lg->set_pattern("%Y-%m-%dT%H:%M:%S.%fZ %^%-5l%$ %n: %v", spdlog::pattern_time_type::utc);
    it = reg.loggers.emplace(std::string(target), std::move(lg)).first;
  }
  return *it->second;
}

void set_level(Level lvl) {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  reg.level = lvl;
  for (auto& [name, lg] : reg.loggers) lg->set_level(lvl);
}

Level level() {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  return reg.level;
}

void add_sink(std::shared_ptr<spdlog::sinks::sink> sink) { registry().fanout->add_sink(std::move(sink)); }

void remove_sink(const std::shared_ptr<spdlog::sinks::sink>& sink) { registry().fanout->remove_sink(sink); }

void remove_console_sink() { remove_sink(registry().console); }

std::string render_fields(Fields fields) {
  std::string out;
  for (const Field& f : fields) fmt::format_to(std::back_inserter(out), " {}={}", f.key, f.value);
  return out;
}

RateLimit::Pass RateLimit::pass(std::uint64_t now_ms) noexcept {
  std::uint64_t due = due_ms_.load(std::memory_order_relaxed);
  for (;;) {
    const std::uint64_t start = std::max(due, now_ms);
    if (start - now_ms > (kBurst - 1) * kIntervalMs) {
      suppressed_.fetch_add(1, std::memory_order_relaxed);
      return {false, 0};
    }
    if (due_ms_.compare_exchange_weak(due, start + kIntervalMs, std::memory_order_relaxed)) break;
  }
  return {true, suppressed_.exchange(0, std::memory_order_relaxed)};
}

std::uint64_t steady_ms() noexcept {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace valdori::log
