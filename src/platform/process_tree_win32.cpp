#include <windows.h>

#include <string>

#include "platform/process_tree.hpp"
#include "platform/windows_taskkill.hpp"

namespace quern::platform {

namespace {

// SystemRoot as it is set, empty included; nullopt when it does not exist.
std::optional<std::u16string> system_root() {
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(L"SystemRoot", nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::u16string();
    }
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"SystemRoot", value.data(), needed);
    value.resize(length < needed ? length : 0);
    return std::u16string(value.begin(), value.end());
}

OsString os_string(const std::u16string& text) { return OsString(text.begin(), text.end()); }

}  // namespace

std::optional<ChildProcess> start_ending_process_tree(ChildProcess& child) {
    ProcessStart start;
    start.program = os_string(taskkill_program(system_root()));
    const std::string pid = std::to_string(child.process_id());
    start.arguments = {L"/PID", OsString(pid.begin(), pid.end()), L"/T", L"/F"};
    Result<ChildProcess> taskkill = start_child_process(start);
    if (!taskkill.ok()) return std::nullopt;
    return std::move(taskkill).value();
}

}  // namespace quern::platform
