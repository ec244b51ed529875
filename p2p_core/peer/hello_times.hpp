// The times HELLOs carry. A sender gives every HELLO to one peer a time of its own, strictly
// increasing; a receiver takes a HELLO only when its time is recent and newer than the newest it
// took from that sender, so a captured HELLO replayed later, from whatever address, is refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::peer {

// The sending side, one per peer. A HELLO is sent over every path of a peer in one pass; with
// one time for all, the receiver would take only the first that arrives.
class HelloClock {
 public:
  // `now`, or one past the time given last when that is not below `now`.
  std::uint64_t next(std::uint64_t now);
  // Whether `echoed` (an ACK's time) lies after every time given and after `now`.
  bool is_in_future(std::uint64_t echoed, std::uint64_t now) const;

 private:
  std::atomic<std::uint64_t> latest_{0};
};

enum class HelloVerdict : std::uint8_t { Fresh, TooOld, InFuture, Replayed };

// The receiving side, one per sender: the newest HELLO time taken and where it came from.
class HelloFreshness {
 public:
  // Takes a HELLO of `time` from `source`: it must lie within `max_age` of `now` either way, and
  // be newer than the newest taken, or equal to it and from the address that sent that one.
  // Records a fresh time.
  HelloVerdict accept(std::uint64_t time, const net::SocketAddr& source, std::uint64_t now, std::uint64_t max_age);

 private:
  struct Newest {
    std::uint64_t time = 0;
    std::optional<net::SocketAddr> source;
  };
  concurrent::AtomicSnapshot<Newest> newest_;
};

}  // namespace valdori::p2p::peer
