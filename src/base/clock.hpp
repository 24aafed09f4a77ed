#pragma once

#include <chrono>

namespace quern::base {

// The monotonic clock of every deadline and window in the runtime.
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

}  // namespace quern::base
