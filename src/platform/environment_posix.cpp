#include <algorithm>

#include "platform/environment.hpp"

extern char** environ;

namespace quern::platform {

namespace {

OsStringView entry_name(OsStringView entry) { return entry.substr(0, entry.find('=')); }

bool is_changed(OsStringView entry, const EnvironmentChanges& changes) {
    const OsStringView name = entry_name(entry);
    return std::any_of(changes.set.begin(), changes.set.end(), [&](const auto& set) { return set.first == name; }) ||
           std::find(changes.remove.begin(), changes.remove.end(), name) != changes.remove.end();
}

}  // namespace

std::vector<OsString> current_environment_with(const EnvironmentChanges& changes) {
    std::vector<OsString> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (!is_changed(*entry, changes)) entries.emplace_back(*entry);
    }
    for (const auto& [name, value] : changes.set) entries.push_back(name + '=' + value);
    return entries;
}

}  // namespace quern::platform
