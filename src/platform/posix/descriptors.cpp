#include "platform/posix/descriptors.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace quern::platform::posix {

namespace {

constexpr long kMostDescriptorsTried = 1L << 20;

enum class Act { CloseOnExec, Close };

void act_on(int fd, Act act) {
    if (act == Act::Close) {
        ::close(fd);
    } else {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

void act_from(int first, const OpenDescriptors& open, Act act) {
#ifdef CLOSE_RANGE_CLOEXEC
    const int flags = act == Act::Close ? 0 : static_cast<int>(CLOSE_RANGE_CLOEXEC);
    if (::close_range(static_cast<unsigned>(first), ~0U, flags) == 0) return;
#endif
    if (open) {
        for (const int fd : *open) {
            if (fd >= first) act_on(fd, act);
        }
        return;
    }
    long limit = ::sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > kMostDescriptorsTried) limit = kMostDescriptorsTried;
    for (long fd = first; fd < limit; ++fd) act_on(static_cast<int>(fd), act);
}

}  // namespace

OpenDescriptors list_open_descriptors() {
    for (const char* directory : {"/proc/self/fd", "/dev/fd"}) {
        DIR* listing = ::opendir(directory);
        if (listing == nullptr) continue;
        std::vector<int> descriptors;
        while (const dirent* entry = ::readdir(listing)) {
            char* end = nullptr;
            const long fd = std::strtol(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0' && fd >= 0 && fd <= INT_MAX) {
                descriptors.push_back(static_cast<int>(fd));
            }
        }
        ::closedir(listing);
        return descriptors;
    }
    return std::nullopt;
}

void close_on_exec_from(int first, const OpenDescriptors& open) { act_from(first, open, Act::CloseOnExec); }

void close_from(int first, const OpenDescriptors& open) { act_from(first, open, Act::Close); }

}  // namespace quern::platform::posix
