#pragma once

#include <optional>
#include <vector>

namespace quern::platform::posix {

// Which descriptors a forked child holds, and how it lets go of the ones the
// runtime must not pass on. The listing is made in the parent before the fork
// (listing a directory allocates, which the child may not do); the child then
// acts on what is open, not on every number up to the descriptor limit.

// The open descriptors, from /proc/self/fd (Linux) or /dev/fd (macOS and the
// BSDs); nothing when neither can be read.
using OpenDescriptors = std::optional<std::vector<int>>;
OpenDescriptors list_open_descriptors();

// In a forked child, async-signal-safe: every descriptor from first up is
// marked close-on-exec (so that execve drops it), or closed at once. By
// close_range where the system has it, else by the listing (whose own
// descriptor, closed since, is among them: harmless), else up to the
// descriptor limit, but never more than 2^20 numbers, since containers set
// the limit near 10^9.
void close_on_exec_from(int first, const OpenDescriptors& open);
void close_from(int first, const OpenDescriptors& open);

}  // namespace quern::platform::posix
