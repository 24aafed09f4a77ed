#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quern::platform {

// Appends a relative component by the Windows rule: one backslash in between
// unless the path is empty, already ends in a slash or backslash, or is a bare
// drive such as "C:".
void append_windows_component(std::u16string& path, std::u16string_view component);

// Where taskkill.exe lives: SystemRoot (used as it is, even when empty) or
// C:\Windows when the variable does not exist, then System32\taskkill.exe.
std::u16string taskkill_program(const std::optional<std::u16string>& system_root);

}  // namespace quern::platform
