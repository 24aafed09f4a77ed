#include <windows.h>

#include <climits>

#include "platform/handle.hpp"
#include "platform/this_process.hpp"
#include "platform/win32/units.hpp"
#include "platform/windows_rules/command_line.hpp"

namespace quern::platform {

namespace {

// The process's own standard handle; false when it has none to write to.
bool write_standard(DWORD which, std::string_view bytes) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    return write_all(reinterpret_cast<NativeHandle>(handle), bytes).ok();
}

// One count a request; made before the handler is installed, never closed.
HANDLE termination_requests = nullptr;

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            ReleaseSemaphore(termination_requests, 1, nullptr);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            ReleaseSemaphore(termination_requests, 1, nullptr);
            // Returning would let the system end the runtime at once, before
            // the backend was asked to stop; the runtime's own exit ends this
            // thread, or the system does after its time-out.
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void prepare_process() {
    // No error dialog boxes: a console runtime under a GUI must never wait on one.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The backend is started with handle inheritance on. Were the runtime's own
    // standard handles inheritable, the backend and anything it starts would
    // hold the front end's pipes open, and the front end would never see the
    // runtime's output end while a leftover grandchild lives.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        }
    }
}

std::vector<OsString> program_arguments(int, char**) {
    const wchar_t* line = GetCommandLineW();
    std::vector<OsString> args;
    for (const std::u16string& arg : windows::split_command_line(to_utf16(line))) args.push_back(from_utf16(arg));
    return args;
}

NativeHandle standard_input() { return reinterpret_cast<NativeHandle>(GetStdHandle(STD_INPUT_HANDLE)); }

bool write_stdout(std::string_view bytes) { return write_standard(STD_OUTPUT_HANDLE, bytes); }

bool write_stderr(std::string_view bytes) { return write_standard(STD_ERROR_HANDLE, bytes); }

base::Status catch_termination_requests() {
    if (termination_requests != nullptr) return {};
    HANDLE requests = CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
    if (requests == nullptr) return base::Failure{os_error_text(GetLastError())};
    termination_requests = requests;
    if (!SetConsoleCtrlHandler(on_console_event, TRUE)) return base::Failure{os_error_text(GetLastError())};
    return {};
}

bool wait_for_termination_request() {
    if (termination_requests == nullptr) {
        for (;;) Sleep(INFINITE);
    }
    return WaitForSingleObject(termination_requests, INFINITE) == WAIT_OBJECT_0;
}

void exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace quern::platform
