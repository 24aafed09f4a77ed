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

void make_pipe_writes_nonblocking(NativeHandle) {}

base::Status write_all_watching_full_pipe(NativeHandle handle, std::string_view bytes,
                                          const std::function<void(bool)>& on_full) {
    on_full(true);
    base::Status written = write_all(handle, bytes);
    on_full(false);
    return written;
}

base::Result<Pipe> create_pipe() {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0)) return base::Failure{os_error_text(GetLastError())};
    return Pipe{OwnedHandle(reinterpret_cast<NativeHandle>(read)),
                OwnedHandle(reinterpret_cast<NativeHandle>(write))};
}

}  // namespace quern::platform
