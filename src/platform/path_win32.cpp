#include <windows.h>

#include <optional>

#include "platform/handle.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/win32/units.hpp"
#include "platform/windows_rules/path.hpp"

namespace quern::platform {

namespace {

// A handle to the file or directory the path leads to, links followed. Asking
// for its name or attributes needs no access rights, so none are requested
// (nothing that merely reads the file can get in the way); backup semantics let
// a directory be opened at all.
OwnedHandle open_for_query(const OsString& path) {
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OwnedHandle();
    return OwnedHandle(reinterpret_cast<NativeHandle>(handle));
}

std::optional<DWORD> attributes_following_links(const OsString& path) {
    OwnedHandle handle = open_for_query(path);
    if (!handle.valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle.native()), &information)) {
        return std::nullopt;
    }
    return information.dwFileAttributes;
}

std::optional<std::u16string> full_path_name(const std::u16string& path) {
    const OsString wide = from_utf16(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::nullopt;
    OsString buffer(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return std::nullopt;
    buffer.resize(length);
    return to_utf16(buffer);
}

}  // namespace

bool is_absolute_path(OsStringView path) { return windows::is_absolute_path(to_utf16(path)); }

OsString join_path(OsStringView base, OsStringView name) {
    return from_utf16(windows::join_path(to_utf16(base), to_utf16(name)));
}

bool path_is_inside(OsStringView path, OsStringView directory) {
    return windows::path_is_inside(to_utf16(path), to_utf16(directory));
}

base::Result<OsString> final_path(const OsString& path) {
    OwnedHandle handle = open_for_query(path);
    if (!handle.valid()) return base::Failure{os_error_text(GetLastError())};
    OsString buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(handle.native()), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), 0);
        if (length == 0) return base::Failure{os_error_text(GetLastError())};
        // Too small a buffer is answered with the size needed, zero included.
        const bool fits = length < buffer.size();
        buffer.resize(length);
        if (fits) return buffer;
    }
}

bool is_directory(const OsString& path) {
    const std::optional<DWORD> attributes = attributes_following_links(path);
    return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_file(const OsString& path) {
    const std::optional<DWORD> attributes = attributes_following_links(path);
    return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

OsString working_directory_form(const OsString& final_path) {
    return from_utf16(windows::working_directory(to_utf16(final_path), full_path_name));
}

const VenvInterpreter& venv_interpreter() {
    static const VenvInterpreter interpreter{{"Scripts", "python.exe"}, true};
    return interpreter;
}

}  // namespace quern::platform
