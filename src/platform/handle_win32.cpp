#include <windows.h>

#include "platform/handle.hpp"

namespace quern::platform {

namespace {

HANDLE win32_handle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

void close_native_handle(NativeHandle handle) { CloseHandle(win32_handle(handle)); }

ReadOutcome read_some(NativeHandle handle, char* buffer, std::size_t capacity) {
    const DWORD request = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
    DWORD n = 0;
    if (!ReadFile(win32_handle(handle), buffer, request, &n, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {};
        return {ReadOutcome::Kind::Error, 0, error};
    }
    if (n == 0) return {};
    return {ReadOutcome::Kind::Data, n, 0};
}

base::Status write_all(NativeHandle handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(win32_handle(handle), bytes.data(), chunk, &written, nullptr)) {
            return base::Failure{os_error_text(GetLastError())};
        }
        if (written == 0) return base::Failure{"failed to write whole buffer"};
        bytes.remove_prefix(written);
    }
    return {};
}

void make_pipe_writes_nonblocking(NativeHandle handle) {
    DWORD mode = PIPE_NOWAIT;
    (void)SetNamedPipeHandleState(win32_handle(handle), &mode, nullptr, nullptr);
}

namespace {

// The smallest piece tried before a pipe counts as full: what a POSIX pipe
// guarantees to take whole (PIPE_BUF), so both platforms call a pipe full at
// the same point.
constexpr DWORD kSmallestPiece = 4096;

bool set_pipe_wait(HANDLE pipe, DWORD mode) { return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != 0; }

}  // namespace

// A nonblocking byte pipe takes part of a write on Windows but all or nothing
// under Wine, so a refused piece is halved before the pipe counts as full.
// Windows has no poll for pipes: the wait for room is one blocking write of a
// small piece, which the system completes as soon as the reader makes room.
base::Status write_all_watching_full_pipe(NativeHandle handle, std::string_view bytes,
                                          const std::function<void(bool)>& on_full) {
    HANDLE pipe = win32_handle(handle);
    DWORD piece = 0x40000000;
    while (!bytes.empty()) {
        const DWORD size = bytes.size() < piece ? static_cast<DWORD>(bytes.size()) : piece;
        DWORD written = 0;
        if (!WriteFile(pipe, bytes.data(), size, &written, nullptr)) return base::Failure{os_error_text(GetLastError())};
        if (written > 0) {
            bytes.remove_prefix(written);
            continue;
        }
        if (size > kSmallestPiece) {
            piece = size / 2 > kSmallestPiece ? size / 2 : kSmallestPiece;
            continue;
        }
        on_full(true);
        const bool waits = set_pipe_wait(pipe, PIPE_WAIT);
        const BOOL ok = WriteFile(pipe, bytes.data(), size, &written, nullptr);
        const DWORD error = ok ? 0 : GetLastError();
        if (waits) (void)set_pipe_wait(pipe, PIPE_NOWAIT);
        on_full(false);
        if (!ok) return base::Failure{os_error_text(error)};
        // A handle that would not wait (not a pipe) and took nothing is stuck.
        if (written == 0 && !waits) return base::Failure{"failed to write whole buffer"};
        bytes.remove_prefix(written);
        piece = 0x40000000;
    }
    return {};
}

base::Result<Pipe> create_pipe() {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0)) return base::Failure{os_error_text(GetLastError())};
    return Pipe{OwnedHandle(reinterpret_cast<NativeHandle>(read)),
                OwnedHandle(reinterpret_cast<NativeHandle>(write))};
}

}  // namespace quern::platform
