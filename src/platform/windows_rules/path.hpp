#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quern::platform::windows {

// Windows path rules as plain functions over UTF-16 units, so that they are
// tested on every platform. '\' and '/' both separate names, except after the
// extended-length prefix \\?\, where only '\' does.

// True when the path names one place without reference to a current drive or
// directory: a drive with a root (C:\ or C:/), a UNC share (\\server\share), or
// a \\?\ or \\.\ form, which counts as rooted by itself. Relative paths,
// drive-relative ones (C:proj), root-relative ones (\proj, /proj) and the empty
// string are not. Looks at the text only.
bool is_absolute_path(std::u16string_view path);

// The base, one backslash and the name. No backslash is added after an empty
// base, a base that already ends in a separator (a drive root such as
// \\?\C:\), or a bare drive such as "C:" (which stays drive-relative).
std::u16string join_path(std::u16string_view base, std::u16string_view name);

// True when the path lies at or below the directory, compared component by
// component: the prefix (drive, share, device or \\?\ form), the root and each
// name as whole components, so \\?\C:\proj2\x is not inside \\?\C:\proj. Names
// are compared exactly, letter case included; only a drive letter is compared
// without regard to case. Empty names (doubled or trailing separators) are
// skipped.
bool path_is_inside(std::u16string_view path, std::u16string_view directory);

// The platform's full-path conversion (GetFullPathNameW), or nothing when it fails.
using FullPathConversion = std::function<std::optional<std::u16string>(const std::u16string&)>;

// The working directory to start a child in, for a final path. The candidate is
// the path without its extended-length prefix: \\?\UNC\server\share\x gives
// \\server\share\x, any other \\?\X gives X. It is chosen only when the full-path
// conversion returns it unchanged, unit for unit (so that no name is altered by
// the conversion's rules on trailing dots, spaces or reserved names); otherwise,
// and for a path without the prefix, the final path is returned as it is.
std::u16string working_directory(std::u16string_view final_path,
                                         const FullPathConversion& full_path);

// Where taskkill.exe lives: SystemRoot (used as it is, even when empty) or
// C:\Windows when the variable does not exist, then System32\taskkill.exe.
std::u16string taskkill_program(const std::optional<std::u16string>& system_root);

}  // namespace quern::platform::windows
