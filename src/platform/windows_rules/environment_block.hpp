#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quern::platform::windows {

// The environment block of a Windows process as plain functions over UTF-16
// units, so that they are tested on every platform. An entry is "NAME=value";
// a name may itself begin with '=' (the hidden per-drive directories such as
// "=C:=C:\work"), so it ends at the first '=' after its first unit.

// Compares two variable names without regard to letter case: negative, zero or
// positive. Windows passes CompareStringOrdinal (ignoring case), which is what
// CreateProcessW's ordering of an environment block means.
using NameComparison = int (*)(std::u16string_view, std::u16string_view);

struct EnvironmentEdit {
    std::vector<std::pair<std::u16string, std::u16string>> set;  // name, value
    std::vector<std::u16string> remove;
};

// The name part of an entry.
std::u16string_view environment_entry_name(std::u16string_view entry);

// The entries of a block as GetEnvironmentStringsW returns it: zero-terminated
// entries up to an empty one.
std::vector<std::u16string> split_environment_block(std::u16string_view block);

// The entries with the changes made: every entry whose name matches a name to
// set or to remove, in any letter case, is dropped, then each set variable is
// added under the spelling given; the result is sorted by name, ignoring case.
std::vector<std::u16string> edit_environment(std::vector<std::u16string> entries,
                                                     const EnvironmentEdit& changes,
                                                     NameComparison compare);

// The block for CreateProcessW (CREATE_UNICODE_ENVIRONMENT): each entry ended
// by a zero unit, and the whole ended by a further zero unit.
std::u16string make_environment_block(const std::vector<std::u16string>& entries);

}  // namespace quern::platform::windows
