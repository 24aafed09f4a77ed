#include <windows.h>

#include <cwchar>

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

}  // namespace quern::test_child
