#include "p2p_core/peer/hello_times.hpp"

#include <algorithm>

namespace valdori::p2p::peer {

std::uint64_t HelloClock::next(std::uint64_t now) {
  std::uint64_t last = last_.load(std::memory_order_relaxed);
  std::uint64_t time = 0;
  do {
    time = last < now || last - now > kStepBackMs ? now : last + 1;
  } while (!last_.compare_exchange_weak(last, time, std::memory_order_relaxed));
  return time;
}

bool HelloClock::is_in_future(std::uint64_t echoed, std::uint64_t now) const {
  return echoed > std::max(now, last_.load(std::memory_order_relaxed));
}

std::optional<HelloVerdict> hello_age_verdict(std::uint64_t time, std::uint64_t now, std::uint64_t max_age) {
  if (time < now && now - time > max_age) return HelloVerdict::TooOld;
  if (time > now && time - now > max_age) return HelloVerdict::InFuture;
  return std::nullopt;
}

HelloVerdict HelloTimes::accept(std::uint64_t time, std::uint64_t now, std::uint64_t max_age, std::size_t capacity) {
  if (const auto refused = hello_age_verdict(time, now, max_age)) return *refused;
  while (!taken_.empty() && hello_age_verdict(taken_.front(), now, max_age) == HelloVerdict::TooOld) forget_oldest();
  if (time <= floor_) return HelloVerdict::Replayed;
  const auto at = std::ranges::lower_bound(taken_, time);
  if (at != taken_.end() && *at == time) return HelloVerdict::Replayed;
  taken_.insert(at, time);
  if (taken_.size() > capacity) forget_oldest();
  return HelloVerdict::Fresh;
}

void HelloTimes::forget_oldest() {
  floor_ = taken_.front();
  taken_.erase(taken_.begin());
}

HelloReplayWindow::HelloReplayWindow(std::size_t max_senders, std::size_t times_per_sender)
    : max_senders_(max_senders), times_per_sender_(times_per_sender) {}

HelloVerdict HelloReplayWindow::accept(const PubKey& sender, std::uint64_t time, std::uint64_t now,
                                       std::uint64_t interval_now, std::uint64_t max_age) {
  if (const auto refused = hello_age_verdict(time, now, max_age)) return *refused;
  const std::lock_guard lock(mutex_);
  forget_unguarding(now, interval_now, max_age);
  auto found = senders_.find(sender);
  if (found == senders_.end()) {
    if (senders_.size() >= max_senders_) return HelloVerdict::Busy;
    found = senders_.try_emplace(sender).first;
    found->second.kept_from = now;
    by_kept_from_.emplace(now, sender);
  }
  Record& record = found->second;
  const auto verdict = record.times.accept(time, now, max_age, times_per_sender_);
  if (verdict != HelloVerdict::Fresh) return verdict;
  by_kept_from_.erase(std::pair(record.kept_from, sender));
  record.kept_from = std::max(record.times.newest(), now);
  record.kept_from_interval = std::max(record.kept_from_interval, interval_now + (record.kept_from - now));
  by_kept_from_.emplace(record.kept_from, sender);
  return verdict;
}

void HelloReplayWindow::forget_unguarding(std::uint64_t now, std::uint64_t interval_now, std::uint64_t max_age) {
  while (!by_kept_from_.empty()) {
    const auto& [kept_from, sender] = *by_kept_from_.begin();
    if (hello_age_verdict(kept_from, now, max_age) != HelloVerdict::TooOld) return;
    const auto found = senders_.find(sender);
    if (hello_age_verdict(found->second.kept_from_interval, interval_now, max_age) != HelloVerdict::TooOld) return;
    senders_.erase(found);
    by_kept_from_.erase(by_kept_from_.begin());
  }
}

}  // namespace valdori::p2p::peer
