// Waiting in a test for something other threads bring about.
#pragma once

#include <chrono>
#include <functional>

namespace valdori::testing {

// Safety net only: on loopback the conditions hold long before.
inline constexpr std::chrono::seconds kWaitLimit{30};

// Polls `condition` until it holds; false when `limit` passes first.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = kWaitLimit);

}  // namespace valdori::testing
