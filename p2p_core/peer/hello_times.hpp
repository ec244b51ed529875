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
#include <set>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "p2p_core/identity/keys.hpp"

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

enum class HelloVerdict : std::uint8_t { Fresh, TooOld, InFuture, Replayed, Busy };

// TooOld or InFuture when `time` lies further than `max_age` from `now`.
std::optional<HelloVerdict> hello_age_verdict(std::uint64_t time, std::uint64_t now, std::uint64_t max_age);

// The HELLO times taken from one sender within the acceptance window, at most `capacity` of
// them. Times that leave the window or the record raise a floor at or below which every time
// counts as taken, so forgetting a time never lets its replay through.
class HelloTimes {
 public:
  // Fresh, and `time` recorded, when it lies within `max_age` of `now` either way, above the
  // floor and is not taken yet.
  HelloVerdict accept(std::uint64_t time, std::uint64_t now, std::uint64_t max_age, std::size_t capacity);
  // The newest time taken, or the floor when none is kept.
  std::uint64_t newest() const { return taken_.empty() ? floor_ : taken_.back(); }

 private:
  void forget_oldest();

  std::vector<std::uint64_t> taken_;  // ascending, all above floor_
  std::uint64_t floor_ = 0;
};

// The HELLO times taken from many senders, keyed by sender key and kept apart from any table of
// peers: dropping a peer or a registry entry keeps its record here.
//
// Each sender's record holds its own times only, so nothing another sender does can make its
// HELLO a replay. A record is forgotten only once it guards nothing: its times have all left the
// window, and none of its HELLOs has been taken for `max_age` (so a sender whose clock lags by
// nearly the whole window keeps its record while it greets). Both must hold by the wall clock
// the times are measured against and by the interval clock, counted from when they were taken,
// so a wall clock put ahead and back, or back while the record is kept, brings none of its times
// into the window again: only one set back after that, behind where it stood against the
// interval clock when they were taken, does, as a restart does. A window holding `max_senders`
// records that still guard something takes no new sender: its HELLO is refused as Busy, never
// as a replay, and leaves no record. So a replay of a taken HELLO is refused for as long as its
// time is recent, and a sender with a HELLO taken within the last `max_age` is never Busy.
//
// What a flood of self-made identities can still do: fill the window with records of its own,
// one per identity whose HELLO is taken, and so keep newcomers out (Busy) until those records
// leave it, `max_age` after the identities' last HELLO or after their newest time, whichever is
// later (up to twice `max_age` for times dated ahead). Owners therefore record only senders they
// would serve: a registered node, or a stranger there is room for. A HELLO refused before it is
// recorded may be replayed later within its age and is then taken once, as if it came late.
//
// Any thread may use it: one short lock per call; forgetting is amortised O(1), and each call
// costs O(log max_senders).
class HelloReplayWindow {
 public:
  // A node greets a peer about once per path and housekeeping pass (5 s by default); this many
  // cover a 60 s window for a few paths.
  static constexpr std::size_t kTimesPerSender = 32;

  explicit HelloReplayWindow(std::size_t max_senders, std::size_t times_per_sender = kTimesPerSender);

  // HelloTimes::accept for the record of `sender` at `now` on the wall clock and `interval_now`
  // on the interval clock; a HELLO refused for its age makes no record, and one of a sender
  // without a record is Busy while the window is full.
  HelloVerdict accept(const PubKey& sender, std::uint64_t time, std::uint64_t now, std::uint64_t interval_now,
                      std::uint64_t max_age);

 private:
  struct Record {
    HelloTimes times;
    // The later of the newest time taken and the receiver's clock when it was taken: the record
    // is kept until this leaves the window.
    std::uint64_t kept_from = 0;
    // The same on the interval clock: the reading when a HELLO was taken, plus how far
    // `kept_from` lay ahead of the wall clock then; the latest of these.
    std::uint64_t kept_from_interval = 0;
  };

  void forget_unguarding(std::uint64_t now, std::uint64_t interval_now, std::uint64_t max_age);

  const std::size_t max_senders_;
  const std::size_t times_per_sender_;
  std::mutex mutex_;
  boost::unordered_flat_map<PubKey, Record, std::hash<PubKey>> senders_;
  // By kept_from: the record to forget first at the front, unless the interval clock still keeps it.
  std::set<std::pair<std::uint64_t, PubKey>> by_kept_from_;
};

}  // namespace valdori::p2p::peer
