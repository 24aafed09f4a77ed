#pragma once

#include <utility>
#include <vector>

#include "platform/os_string.hpp"

namespace quern::platform {

// Changes to the environment a child process is given.
struct EnvironmentChanges {
    std::vector<std::pair<OsString, OsString>> set;  // name, value: replaces any present value
    std::vector<OsString> remove;                    // removed when present
};

// The runtime's own environment with the changes made, one "NAME=value" entry
// per variable, ready for ProcessStart::environment. Windows: taken from
// GetEnvironmentStringsW; names match without regard to letter case
// (CompareStringOrdinal), so removing PYTHONPATH removes pythonpath too; the
// entries come sorted by name ignoring case, as CreateProcessW expects of a
// block. POSIX: taken from environ; names match exactly; the order is kept, the
// set variables last.
std::vector<OsString> current_environment_with(const EnvironmentChanges& changes);

}  // namespace quern::platform
