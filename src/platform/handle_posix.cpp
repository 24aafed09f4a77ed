#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/handle.hpp"
#include "platform/posix/eintr.hpp"

namespace quern::platform {

namespace {

int fd_of(NativeHandle handle) { return static_cast<int>(handle); }

}  // namespace

void close_native_handle(NativeHandle handle) { ::close(fd_of(handle)); }

ReadOutcome read_some(NativeHandle handle, char* buffer, std::size_t capacity) {
    const ssize_t n = posix::retry_on_eintr([&] { return ::read(fd_of(handle), buffer, capacity); });
    if (n > 0) return {ReadOutcome::Kind::Data, static_cast<std::size_t>(n), 0};
    if (n == 0) return {ReadOutcome::Kind::End, 0, 0};
    return {ReadOutcome::Kind::Error, 0, static_cast<OsErrorCode>(errno)};
}

base::Status write_all(NativeHandle handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = posix::retry_on_eintr([&] { return ::write(fd_of(handle), bytes.data(), bytes.size()); });
        if (n < 0) return base::Failure{os_error_text(static_cast<OsErrorCode>(errno))};
        if (n == 0) return base::Failure{"failed to write whole buffer"};
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

void make_pipe_writes_nonblocking(NativeHandle handle) {
    const int flags = ::fcntl(fd_of(handle), F_GETFL);
    if (flags != -1) (void)::fcntl(fd_of(handle), F_SETFL, flags | O_NONBLOCK);
}

base::Status write_all_watching_full_pipe(NativeHandle handle, std::string_view bytes,
                                          const std::function<void(bool)>& on_full) {
    while (!bytes.empty()) {
        const ssize_t n = posix::retry_on_eintr([&] { return ::write(fd_of(handle), bytes.data(), bytes.size()); });
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            on_full(true);
            pollfd writable{fd_of(handle), POLLOUT, 0};
            // A reader that goes away shows as POLLERR; the next write reports it.
            (void)posix::retry_on_eintr([&] { return ::poll(&writable, 1, -1); });
            on_full(false);
            continue;
        }
        if (n < 0) return base::Failure{os_error_text(static_cast<OsErrorCode>(errno))};
        return base::Failure{"failed to write whole buffer"};
    }
    return {};
}

base::Result<Pipe> create_pipe() {
    int fds[2];
    if (::pipe(fds) != 0) return base::Failure{os_error_text(last_os_error())};
    // pipe2 is not everywhere (macOS); the runtime starts no process while
    // another thread creates pipes, so setting the flag after is safe.
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return Pipe{OwnedHandle(fds[0]), OwnedHandle(fds[1])};
}

}  // namespace quern::platform
