// A rate limit per source address: a small token bucket per address, in a bounded table. It
// bounds how much of the receiver's work one source can ask for, such as key agreements with
// keys the receiver has never seen. IPv6 sources are grouped by their /64, which one subscriber
// usually holds whole. A full table forgets the source used least recently; a source met anew
// starts with a full bucket, so forgetting never holds back an honest source, and what sources
// beyond the table's size ask for in all needs a limit shared by all of them (RateBudget).
//
// Any thread may use it: one short lock per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/net/rate_budget.hpp"
#include "util/container/lru_map.hpp"

namespace valdori::p2p::net {

// The unit sources are counted in: the IPv4 address (also when mapped into IPv6), else the
// IPv6 /64 with the interface bits cleared.
boost::asio::ip::address source_group(const boost::asio::ip::address& source);

// What a request under a limit per source and a shared budget met.
enum class Admission : std::uint8_t { Allowed, SourceLimited, BudgetSpent };

class SourceRateLimiter {
 public:
  // Each source may take `burst` at once, then one every `interval_ms`.
  SourceRateLimiter(std::uint64_t interval_ms, std::uint32_t burst, std::size_t max_sources);

  // Takes one from the bucket of `source` at `now_ms` (node-clock milliseconds); false when the
  // bucket is empty.
  bool allow(const boost::asio::ip::address& source, std::uint64_t now_ms);
  // Takes one from the bucket of `source` and one from `shared`, or neither. The source's bucket
  // is asked first, so that one source cannot spend what all share, and is held meanwhile, so
  // that no other take from the source comes between.
  Admission allow(const boost::asio::ip::address& source, std::uint64_t now_ms, RateBudget& shared);

 private:
  Admission take(const boost::asio::ip::address& source, std::uint64_t now_ms, RateBudget* shared);

  const std::uint64_t interval_ms_;
  const std::uint64_t burst_span_ms_;
  std::mutex mutex_;
  // The bucket as the time it would be full again (the "theoretical arrival time" of GCRA).
  util::LruMap<boost::asio::ip::address, std::uint64_t> full_at_;
};

}  // namespace valdori::p2p::net
