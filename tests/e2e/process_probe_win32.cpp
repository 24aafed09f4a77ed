#include <windows.h>

#include "process_probe.hpp"

namespace quern::testing {

bool process_is_gone(unsigned long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return true;
    const bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

void kill_process(unsigned long pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process == nullptr) return;
    TerminateProcess(process, 1);
    CloseHandle(process);
}

std::optional<double> peak_resident_mib(unsigned long) { return std::nullopt; }

std::vector<unsigned long> live_group_members(unsigned long) { return {}; }

void kill_process_group(unsigned long) {}

}  // namespace quern::testing
