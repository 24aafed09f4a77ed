#include <windows.h>

#include "platform/environment.hpp"
#include "platform/win32/units.hpp"
#include "platform/windows_rules/environment_block.hpp"

namespace quern::platform {

namespace {

// The comparison Windows itself orders environment blocks by: ordinal, with
// the system's upper-case table, independent of any locale.
int compare_names_ignoring_case(std::u16string_view a, std::u16string_view b) {
    const int order = CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                           reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                           TRUE);
    return order - CSTR_EQUAL;
}

std::vector<std::u16string> current_entries() {
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) return {};
    const wchar_t* end = block;
    while (*end != L'\0') end += wcslen(end) + 1;
    std::vector<std::u16string> entries = windows::split_environment_block(to_utf16(OsStringView(block, end)));
    FreeEnvironmentStringsW(block);
    return entries;
}

}  // namespace

std::vector<OsString> current_environment_with(const EnvironmentChanges& changes) {
    windows::EnvironmentEdit windows_changes;
    for (const auto& [name, value] : changes.set) windows_changes.set.emplace_back(to_utf16(name), to_utf16(value));
    for (const OsString& name : changes.remove) windows_changes.remove.push_back(to_utf16(name));
    std::vector<OsString> entries;
    for (const std::u16string& entry :
         windows::edit_environment(current_entries(), windows_changes, compare_names_ignoring_case)) {
        entries.push_back(from_utf16(entry));
    }
    return entries;
}

}  // namespace quern::platform
