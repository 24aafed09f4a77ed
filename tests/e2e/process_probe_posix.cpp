#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
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

std::vector<unsigned long> live_group_members(unsigned long group) {
    std::vector<unsigned long> members;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        // No /proc (macOS): the group is there while any member, zombie or not, is.
        if (::kill(-static_cast<pid_t>(group), 0) == 0) members.push_back(group);
        return members;
    }
    while (const dirent* entry = ::readdir(processes)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // The name, in parentheses, may hold anything; the fields after it do not.
        const std::size_t name_end = text.rfind(')');
        if (name_end == std::string::npos) continue;
        std::istringstream fields(text.substr(name_end + 1));
        std::string state;
        unsigned long parent = 0;
        unsigned long process_group = 0;
        if (!(fields >> state >> parent >> process_group)) continue;
        if (process_group == group && state != "Z" && state != "X") members.push_back(std::strtoul(entry->d_name, nullptr, 10));
    }
    ::closedir(processes);
    return members;
}

void kill_process_group(unsigned long group) { (void)::kill(-static_cast<pid_t>(group), SIGKILL); }

}  // namespace quern::testing
