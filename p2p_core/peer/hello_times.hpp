// The times HELLOs carry. A sender gives every HELLO to one peer a time of its own; a receiver
// takes a HELLO only when its time is recent and not one it has taken before, so a captured
// HELLO replayed later, from whatever address, is refused, while a sender whose clock stepped
// back is served at once: its new times are recent and unseen.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "p2p_core/identity/keys.hpp"
#include "util/container/lru_map.hpp"

namespace valdori::p2p::peer {

// The sending side, one per peer. A HELLO is sent over every path of a peer in one pass; with
// one time for all, the receiver would take only the first that arrives.
class HelloClock {
 public:
  // A clock that went back by more than this is followed rather than counted up from the time
  // given last: a sender stuck ahead of its receivers would not be served.
  static constexpr std::uint64_t kStepBackMs = 1000;

  // `now`, or one past the time given last while that lies at or a little after `now`.
  std::uint64_t next(std::uint64_t now);
  // Whether `echoed` (an ACK's time) lies after the time given last and after `now`.
  bool is_in_future(std::uint64_t echoed, std::uint64_t now) const;

 private:
  std::atomic<std::uint64_t> last_{0};
};

enum class HelloVerdict : std::uint8_t { Fresh, TooOld, InFuture, Replayed };

// TooOld or InFuture when `time` lies further than `max_age` from `now`.
std::optional<HelloVerdict> hello_age_verdict(std::uint64_t time, std::uint64_t now, std::uint64_t max_age);

// The HELLO times taken from one sender within the acceptance window, at most `capacity` of
// them. Times that leave the window or the record raise a floor at or below which every time
// counts as taken, so forgetting a time never lets its replay through.
class HelloTimes {
 public:
  explicit HelloTimes(std::uint64_t floor = 0) : floor_(floor) {}

  // Fresh, and `time` recorded, when it lies within `max_age` of `now` either way, above the
  // floor and is not taken yet.
  HelloVerdict accept(std::uint64_t time, std::uint64_t now, std::uint64_t max_age, std::size_t capacity);
  // The newest time taken, or the floor when none is kept.
  std::uint64_t newest() const { return taken_.empty() ? floor_ : taken_.back(); }

 private:
  void forget_oldest();

  std::vector<std::uint64_t> taken_;  // ascending, all above floor_
  std::uint64_t floor_;
};

// The HELLO times taken from many senders, keyed by sender key and kept apart from any table of
// peers: dropping a peer or a registry entry keeps its record here. At most `max_senders`
// records: a full window forgets the sender used least recently and raises a common floor to
// that sender's newest time; a sender met anew starts from that floor, so no forgotten sender's
// HELLO can be replayed. Honest senders greet with the time of their clock, well above it.
//
// Any thread may use it: one short lock per call.
class HelloReplayWindow {
 public:
  // A node greets a peer about once per path and housekeeping pass (5 s by default); this many
  // cover a 60 s window for a few paths.
  static constexpr std::size_t kTimesPerSender = 32;

  explicit HelloReplayWindow(std::size_t max_senders, std::size_t times_per_sender = kTimesPerSender);

  // HelloTimes::accept for the record of `sender`; a HELLO refused for its age makes no record.
  HelloVerdict accept(const PubKey& sender, std::uint64_t time, std::uint64_t now, std::uint64_t max_age);

 private:
  void raise_floor(std::uint64_t time) { floor_ = std::max(floor_, time); }

  const std::size_t times_per_sender_;
  std::mutex mutex_;
  util::LruMap<PubKey, HelloTimes> senders_;
  std::uint64_t floor_ = 0;
};

}  // namespace valdori::p2p::peer
