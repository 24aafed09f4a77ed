#include <windows.h>

#include <stdexcept>
#include <thread>

#include "platform/windows/command_line.hpp"
#include "support/run_program.hpp"

namespace quern::testing {

namespace {

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

// A pipe whose child end alone is inheritable.
Pipe make_pipe(bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Pipe pipe;
    if (!CreatePipe(&pipe.read, &pipe.write, &inherit, 0)) throw std::runtime_error("CreatePipe");
    SetHandleInformation(child_reads ? pipe.write : pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

void drain(HANDLE handle, std::string* sink) {
    if (handle == nullptr) return;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &n, nullptr) && n > 0) sink->append(buffer, n);
    CloseHandle(handle);
}

std::wstring command_line(const platform::OsString& program,
                          const std::vector<platform::OsString>& arguments) {
    std::u16string line;
    platform::windows::append_argument(std::u16string(program.begin(), program.end()), line);
    for (const auto& argument : arguments) {
        line += u' ';
        platform::windows::append_argument(std::u16string(argument.begin(), argument.end()), line);
    }
    return std::wstring(line.begin(), line.end());
}

}  // namespace

ProgramOutput run_program(const platform::OsString& program,
                          const std::vector<platform::OsString>& arguments,
                          const RunOptions& options) {
    Pipe in = make_pipe(true), out = make_pipe(false), err = make_pipe(false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read;
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    PROCESS_INFORMATION process{};
    std::wstring line = command_line(program, arguments);
    BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(in.read);
    CloseHandle(out.write);
    CloseHandle(err.write);
    if (!started) throw std::runtime_error("CreateProcessW failed");
    ProgramOutput result;
    if (options.close_stdout) {
        CloseHandle(out.read);
        out.read = nullptr;
    }
    std::thread out_reader(drain, out.read, &result.out);
    std::thread err_reader(drain, err.read, &result.err);
    std::string_view stdin_text = options.stdin_text;
    while (!stdin_text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(stdin_text.size() > 65536 ? 65536 : stdin_text.size());
        if (!WriteFile(in.write, stdin_text.data(), chunk, &written, nullptr)) break;
        stdin_text.remove_prefix(written);
    }
    CloseHandle(in.write);
    out_reader.join();
    err_reader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.exit_code = static_cast<int>(code);
    return result;
}

platform::OsString runtime_binary() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring own(path, length);
    return own.substr(0, own.find_last_of(L"\\/") + 1) + L"quern-runtime.exe";
}

}  // namespace quern::testing
