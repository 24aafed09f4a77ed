#include "platform/windows_rules/environment_block.hpp"

#include <algorithm>

namespace quern::platform::windows {

namespace {

bool names_match(std::u16string_view entry, std::u16string_view name, NameComparison compare) {
    return compare(environment_entry_name(entry), name) == 0;
}

bool is_changed(std::u16string_view entry, const EnvironmentEdit& changes,
                NameComparison compare) {
    for (const auto& [name, value] : changes.set) {
        if (names_match(entry, name, compare)) return true;
    }
    for (const std::u16string& name : changes.remove) {
        if (names_match(entry, name, compare)) return true;
    }
    return false;
}

}  // namespace

std::u16string_view environment_entry_name(std::u16string_view entry) {
    const std::size_t equals = entry.find(u'=', 1);
    return equals == std::u16string_view::npos ? entry : entry.substr(0, equals);
}

std::vector<std::u16string> split_environment_block(std::u16string_view block) {
    std::vector<std::u16string> entries;
    while (!block.empty() && block[0] != u'\0') {
        const std::size_t end = block.find(u'\0');
        entries.emplace_back(block.substr(0, end));
        if (end == std::u16string_view::npos) break;
        block.remove_prefix(end + 1);
    }
    return entries;
}

std::vector<std::u16string> edit_environment(std::vector<std::u16string> entries,
                                                     const EnvironmentEdit& changes,
                                                     NameComparison compare) {
    std::erase_if(entries, [&](const std::u16string& entry) { return is_changed(entry, changes, compare); });
    for (const auto& [name, value] : changes.set) entries.push_back(name + u'=' + value);
    std::stable_sort(entries.begin(), entries.end(), [compare](const std::u16string& a, const std::u16string& b) {
        return compare(environment_entry_name(a), environment_entry_name(b)) < 0;
    });
    return entries;
}

std::u16string make_environment_block(const std::vector<std::u16string>& entries) {
    std::u16string block;
    for (const std::u16string& entry : entries) {
        block += entry;
        block += u'\0';
    }
    // An empty block still needs its two terminating zeros.
    if (entries.empty()) block += u'\0';
    block += u'\0';
    return block;
}

}  // namespace quern::platform::windows
