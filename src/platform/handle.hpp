#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/result.hpp"
#include "platform/os_error.hpp"

namespace quern::platform {

// An OS handle as an opaque value: a HANDLE on Windows, a descriptor on POSIX.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

// Closes the handle; closing is never retried (on POSIX a retried close could
// close a descriptor another thread has just been given).
void close_native_handle(NativeHandle handle);

// Sole owner of one OS handle; closes it when destroyed. Move-only, so each pipe
// end has exactly one owner at a time.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(NativeHandle native) : native_(native) {}
    ~OwnedHandle() { close(); }

    OwnedHandle(OwnedHandle&& other) noexcept : native_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            close();
            native_ = other.release();
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    bool valid() const { return native_ != kInvalidHandle; }
    NativeHandle native() const { return native_; }
    NativeHandle release() {
        NativeHandle native = native_;
        native_ = kInvalidHandle;
        return native;
    }
    void close() {
        if (valid()) close_native_handle(release());
    }

private:
    NativeHandle native_ = kInvalidHandle;
};

// One blocking read. End of stream includes a pipe whose writing end has been
// closed (Windows reports that as ERROR_BROKEN_PIPE).
struct ReadOutcome {
    enum class Kind { Data, End, Error };
    Kind kind = Kind::End;
    std::size_t size = 0;     // for Data: how many bytes were read
    OsErrorCode error = 0;    // for Error
};
ReadOutcome read_some(NativeHandle handle, char* buffer, std::size_t capacity);

// Writes all of the bytes, retrying partial writes. On failure: the OS error
// text, or "failed to write whole buffer" when the OS accepted no bytes.
base::Status write_all(NativeHandle handle, std::string_view bytes);

// Makes a pipe end report a full pipe instead of waiting inside the OS, for
// write_all_watching_full_pipe. POSIX: O_NONBLOCK on this end only (the other
// end is a separate open file, so the child's reads are unchanged). Windows:
// PIPE_NOWAIT on this end of the pipe only.
void make_pipe_writes_nonblocking(NativeHandle handle);

// write_all that says when it waits for a full pipe: on_full(true) before it
// waits for room, on_full(false) when the pipe has taken more. Given a
// nonblocking end, "full" means the pipe cannot take even a small piece
// (POSIX: EAGAIN, then poll; Windows: a refused 4 KiB write, then a blocking
// one of that piece).
base::Status write_all_watching_full_pipe(NativeHandle handle, std::string_view bytes,
                                          const std::function<void(bool)>& on_full);

// An anonymous pipe; neither end is inherited by child processes.
struct Pipe {
    OwnedHandle read;
    OwnedHandle write;
};
base::Result<Pipe> create_pipe();

}  // namespace quern::platform
