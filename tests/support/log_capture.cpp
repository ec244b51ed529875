#include "tests/support/log_capture.hpp"

#include <algorithm>

#include "platform/oslog/oslog.hpp"

namespace valdori::testing {

class LogCapture::Sink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<CapturedEvent> snapshot() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    events_.push_back({msg.level, std::string(msg.logger_name.data(), msg.logger_name.size()),
                       std::string(msg.payload.data(), msg.payload.size()), platform::ActivityScope::current_path()});
  }
  void flush_() override {}

 private:
  std::vector<CapturedEvent> events_;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()), previous_level_(log::level()) {
  log::add_sink(sink_);
  log::set_level(log::Level::trace);
}

LogCapture::~LogCapture() {
  log::set_level(previous_level_);
  log::remove_sink(sink_);
}

std::vector<CapturedEvent> LogCapture::events() const { return sink_->snapshot(); }

std::vector<std::string> LogCapture::texts(log::Level level) const {
  std::vector<std::string> out;
  for (const auto& e : events())
    if (e.level == level) out.push_back(e.text);
  return out;
}

bool LogCapture::has(log::Level level, const std::string& text) const {
  auto all = texts(level);
  return std::find(all.begin(), all.end(), text) != all.end();
}

bool LogCapture::has_containing(log::Level level, const std::string& fragment) const {
  auto all = texts(level);
  return std::any_of(all.begin(), all.end(),
                     [&](const std::string& t) { return t.find(fragment) != std::string::npos; });
}

void LogCapture::clear() { sink_->clear(); }

}  // namespace valdori::testing
