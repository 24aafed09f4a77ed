#include <signal.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "process_probe.hpp"

namespace quern::testing {

bool process_is_gone(unsigned long pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    // Orphans are reaped by whoever adopts them, which may take its time; a
    // zombie runs nothing and holds no pipe.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_field, name, state;
    if (!(stat >> pid_field >> name >> state)) return false;
    return state == "Z";
}

void kill_process(unsigned long pid) { (void)::kill(static_cast<pid_t>(pid), SIGKILL); }

std::optional<double> peak_resident_mib(unsigned long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;) {
        if (key == "VmHWM:") {
            double kib = 0;
            if (status >> kib) return kib / 1024.0;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace quern::testing
