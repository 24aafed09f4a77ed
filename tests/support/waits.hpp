#pragma once

// How long tests wait. A wait that runs out is a failed test, so each bound
// fits what it waits for: long enough for a loaded two-core machine, a
// sanitizer or Wine, short enough that a broken build fails in seconds
// rather than in ctest's own time-out.

#include <chrono>

namespace quern::testing {

// Something that should happen at once: an answer, a line, a pipe's end, a
// process gone after it was ended.
inline constexpr std::chrono::seconds kPromptWait{10};

// A whole run of a program that should end on its own: it is killed, and the
// test fails, when it is still running this long after its start.
inline constexpr std::chrono::seconds kRunBound{20};

}  // namespace quern::testing
