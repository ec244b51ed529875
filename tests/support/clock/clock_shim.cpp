#include "tests/support/clock/clock_shim.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>

namespace {

std::atomic<std::int64_t> slept_ns{0};
std::atomic<std::int64_t> wall_stepped_ns{0};

void move(timespec& ts, std::int64_t ns) {
  constexpr std::int64_t kNsPerS = 1'000'000'000;
  const std::int64_t total = static_cast<std::int64_t>(ts.tv_nsec) + ns % kNsPerS;
  ts.tv_sec += static_cast<time_t>(ns / kNsPerS + (total < 0 ? -1 : total >= kNsPerS ? 1 : 0));
  ts.tv_nsec = static_cast<long>((total % kNsPerS + kNsPerS) % kNsPerS);
}

}  // namespace

// The system call itself, not the C library's function, which this definition hides.
extern "C" int clock_gettime(clockid_t id, timespec* ts) {
  if (syscall(SYS_clock_gettime, id, ts) != 0) return -1;
  if (id == CLOCK_BOOTTIME) move(*ts, slept_ns.load());
  if (id == CLOCK_REALTIME) move(*ts, slept_ns.load() + wall_stepped_ns.load());
  return 0;
}

namespace valdori::test {

void suspend_for(std::chrono::nanoseconds d) { slept_ns += d.count(); }

void step_wall_clock(std::chrono::nanoseconds d) { wall_stepped_ns += d.count(); }

void reset_clocks() {
  slept_ns = 0;
  wall_stepped_ns = 0;
}

}  // namespace valdori::test
