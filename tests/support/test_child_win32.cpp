#include <windows.h>

#include <cwchar>

#include "platform/win32_units.hpp"
#include "platform/windows/command_line.hpp"
#include "support/test_child_os.hpp"

namespace quern::test_child {

platform::OsString own_path(const platform::OsString&) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return platform::OsString(path, length);
}

unsigned long own_process_id() { return GetCurrentProcessId(); }

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

}  // namespace quern::test_child
