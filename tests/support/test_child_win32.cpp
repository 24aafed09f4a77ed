#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/win32/units.hpp"
#include "platform/windows_rules/command_line.hpp"
#include "support/test_child_os.hpp"

namespace quern::test_child {

platform::OsString own_path(const platform::OsString&) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return platform::OsString(path, length);
}

unsigned long own_process_id() { return GetCurrentProcessId(); }

unsigned long own_process_group() { return 0; }

void close_stdin() { CloseHandle(GetStdHandle(STD_INPUT_HANDLE)); }

platform::ChildStdio own_output_streams() {
    return {platform::kInvalidHandle, reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_OUTPUT_HANDLE)),
            reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_ERROR_HANDLE))};
}

std::vector<std::pair<std::string, std::string>> os_records() {
    return {{"line", platform::to_utf8_lossy(GetCommandLineW())}};
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        entries.push_back(platform::to_utf8_lossy(entry));
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

bool exec_ignoring_sigchld(const std::vector<platform::OsString>&) { return false; }

bool start_detached_copy(const platform::OsString& program, const std::vector<platform::OsString>& arguments) {
    std::vector<std::u16string> quoted;
    for (const platform::OsString& argument : arguments) quoted.push_back(platform::to_utf16(argument));
    platform::OsString command_line = platform::from_utf16(platform::windows::child_command_line(platform::to_utf16(program), quoted));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        CREATE_BREAKAWAY_FROM_JOB | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

std::optional<int> run_in_closed_job(const std::vector<platform::OsString>& program_and_arguments) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return std::nullopt;
    // Closing the job ends what is still in it, so nothing outlives this helper.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui{JOB_OBJECT_UILIMIT_HANDLES};
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !SetInformationJobObject(job, JobObjectBasicUIRestrictions, &ui, sizeof ui) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        return std::nullopt;
    }
    platform::ProcessStart start;
    start.program = program_and_arguments.at(0);
    start.arguments.assign(program_and_arguments.begin() + 1, program_and_arguments.end());
    start.stdio = {reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_INPUT_HANDLE)),
                   reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_OUTPUT_HANDLE)),
                   reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_ERROR_HANDLE))};
    base::Result<platform::ChildProcess> child = platform::start_child_process(start);
    if (!child.ok()) return std::nullopt;
    const platform::ExitPoll exit = child.value().wait_for_exit();
    if (exit.state != platform::ExitPoll::State::Exited) return std::nullopt;
    return static_cast<int>(exit.exit_code);
}

bool run_with_stray_handle(const std::vector<platform::OsString>& program_and_arguments) {
    if (program_and_arguments.empty()) return false;
    // A pipe's writing end, inheritable, as a careless parent might hold one.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE stray = nullptr;
    if (!CreatePipe(&read_end, &stray, &inherit, 0)) return false;
    const std::wstring value = std::to_wstring(reinterpret_cast<std::uintptr_t>(stray));
    if (!SetEnvironmentVariableW(L"QUERN_STRAY_HANDLE", value.c_str())) return false;
    std::vector<std::u16string> arguments;
    for (std::size_t i = 1; i < program_and_arguments.size(); ++i) {
        arguments.push_back(platform::to_utf16(program_and_arguments[i]));
    }
    const std::u16string program = platform::to_utf16(program_and_arguments[0]);
    std::wstring command_line = platform::from_utf16(platform::windows::child_command_line(program, arguments));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    // Every inheritable handle goes, the stray one among them.
    if (!CreateProcessW(program_and_arguments[0].c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(started.hProcess, &code);
    ExitProcess(code);
}

std::string stray_handle_state() {
    wchar_t value[32];
    const DWORD length = GetEnvironmentVariableW(L"QUERN_STRAY_HANDLE", value, 32);
    if (length == 0 || length >= 32) return "none";
    const HANDLE stray = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
    // The same value may name another object of this process; only a pipe
    // that is none of its standard handles counts as the stray one.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        if (GetStdHandle(which) == stray) return "closed";
    }
    DWORD flags = 0;
    const bool open = GetHandleInformation(stray, &flags) && GetFileType(stray) == FILE_TYPE_PIPE;
    return open ? "open" : "closed";
}

}  // namespace quern::test_child
