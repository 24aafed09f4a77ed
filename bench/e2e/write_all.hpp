#pragma once

// The benchmark's own programs write through this: all of the bytes, or false.
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace e2e {

inline bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace e2e
