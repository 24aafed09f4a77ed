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

}  // namespace quern::testing
