// Moves this process's clocks as the machine would: linked into a test program, it stands in for
// the C library's clock_gettime, so that what reads the clocks through it (std::chrono's clocks,
// the node's interval clock) sees a suspend or a step of the wall clock.
#pragma once

#include <chrono>

namespace valdori::test {

// The machine slept for `d`: the boot-time and wall clocks moved on by it, the monotonic clock not.
void suspend_for(std::chrono::nanoseconds d);
// The wall clock stepped by `d` (back when negative); no other clock moved.
void step_wall_clock(std::chrono::nanoseconds d);
// Every clock reads true again.
void reset_clocks();

}  // namespace valdori::test
