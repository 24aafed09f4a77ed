#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace quern::testing {

// True once the process is gone (a zombie waiting to be reaped counts as gone).
bool process_is_gone(unsigned long pid);
// Waits until the process is gone, looking every 20 ms; false when it is
// still there after the limit.
bool gone_within(unsigned long pid, std::chrono::milliseconds limit);
// Ends a process a test left behind; nothing when it is gone already.
void kill_process(unsigned long pid);
// The most memory the process has had resident so far, in MiB; nothing where
// the system does not tell (only Linux's /proc does).
std::optional<double> peak_resident_mib(unsigned long pid);
// POSIX: the processes of the group that still run (zombies do not count).
// Windows has no process groups: always empty.
std::vector<unsigned long> live_group_members(unsigned long group);
// POSIX: ends every process of the group a test left behind.
void kill_process_group(unsigned long group);

}  // namespace quern::testing
