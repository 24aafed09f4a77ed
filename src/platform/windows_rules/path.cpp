#include "platform/windows_rules/path.hpp"

#include <vector>

namespace quern::platform::windows {

namespace {

constexpr std::u16string_view kExtendedPrefix = u"\\\\?\\";

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

char16_t upper_ascii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool starts_with_ignoring_ascii_case(std::u16string_view text, std::u16string_view start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (upper_ascii(text[i]) != upper_ascii(start[i])) return false;
    }
    return true;
}

bool has_drive(std::u16string_view path) {
    return path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':';
}

// What stands before the names. Kinds differ in meaning even where their text
// looks alike (C:\x, \\?\C:\x and \\.\C:\x are three ways in), so a path is
// only inside another of the same kind.
enum class PrefixKind { None, Disk, Unc, Device, Verbatim, VerbatimDisk, VerbatimUnc };

struct PathParts {
    PrefixKind kind = PrefixKind::None;
    std::u16string key;  // the prefix's own components; a drive letter upper-cased
    bool rooted = false;
    std::vector<std::u16string_view> names;
    bool complete_share = false;  // for Unc: both the server and the share are named
};

// Takes one component off the front of rest, up to the next separator.
std::u16string_view take_component(std::u16string_view& rest, bool verbatim) {
    std::size_t end = 0;
    while (end < rest.size() && !(verbatim ? rest[end] == u'\\' : is_separator(rest[end]))) ++end;
    std::u16string_view component = rest.substr(0, end);
    rest.remove_prefix(end);
    return component;
}

void skip_one_separator(std::u16string_view& rest, bool verbatim) {
    if (!rest.empty() && (verbatim ? rest[0] == u'\\' : is_separator(rest[0]))) rest.remove_prefix(1);
}

// \\server\share or, after \\?\UNC\, server\share: the key is "server\share".
void take_share(std::u16string_view& rest, bool verbatim, PathParts& parts) {
    const std::u16string_view server = take_component(rest, verbatim);
    skip_one_separator(rest, verbatim);
    const std::u16string_view share = take_component(rest, verbatim);
    parts.key.assign(server);
    parts.key += u'\\';
    parts.key.append(share);
    parts.complete_share = !server.empty() && !share.empty();
}

// The prefix of an extended-length path; rest starts after \\?\.
void take_verbatim_prefix(std::u16string_view& rest, PathParts& parts) {
    parts.rooted = true;
    if (starts_with_ignoring_ascii_case(rest, u"UNC\\")) {
        rest.remove_prefix(4);
        parts.kind = PrefixKind::VerbatimUnc;
        take_share(rest, true, parts);
    } else if (has_drive(rest)) {
        parts.kind = PrefixKind::VerbatimDisk;
        parts.key.assign(1, upper_ascii(rest[0]));
        rest.remove_prefix(2);
    } else {
        parts.kind = PrefixKind::Verbatim;
        parts.key.assign(take_component(rest, true));
    }
}

// The prefix of any other form; returns whether only '\' separates names after it.
bool take_prefix(std::u16string_view& rest, PathParts& parts) {
    if (rest.substr(0, kExtendedPrefix.size()) == kExtendedPrefix) {
        rest.remove_prefix(kExtendedPrefix.size());
        take_verbatim_prefix(rest, parts);
        return true;
    }
    const bool two_separators = rest.size() >= 2 && is_separator(rest[0]) && is_separator(rest[1]);
    if (two_separators && rest.size() >= 4 && (rest[2] == u'.' || rest[2] == u'?') && is_separator(rest[3])) {
        rest.remove_prefix(4);
        parts.kind = PrefixKind::Device;
        parts.rooted = true;
        parts.key.assign(take_component(rest, false));
    } else if (two_separators) {
        rest.remove_prefix(2);
        parts.kind = PrefixKind::Unc;
        parts.rooted = true;
        take_share(rest, false, parts);
    } else if (has_drive(rest)) {
        parts.kind = PrefixKind::Disk;
        parts.key.assign(1, upper_ascii(rest[0]));
        rest.remove_prefix(2);
        parts.rooted = !rest.empty() && is_separator(rest[0]);
    } else {
        parts.rooted = !rest.empty() && is_separator(rest[0]);
    }
    return false;
}

PathParts split_path(std::u16string_view path) {
    PathParts parts;
    std::u16string_view rest = path;
    const bool verbatim = take_prefix(rest, parts);
    while (!rest.empty()) {
        skip_one_separator(rest, verbatim);
        const std::u16string_view name = take_component(rest, verbatim);
        if (!name.empty()) parts.names.push_back(name);
    }
    return parts;
}

}  // namespace

bool is_absolute_path(std::u16string_view path) {
    const PathParts parts = split_path(path);
    switch (parts.kind) {
        case PrefixKind::Verbatim:
        case PrefixKind::VerbatimDisk:
        case PrefixKind::VerbatimUnc:
        case PrefixKind::Device:
            return true;
        case PrefixKind::Unc:
            return parts.complete_share;
        case PrefixKind::Disk:
            return parts.rooted;
        case PrefixKind::None:
            return false;
    }
    return false;
}

std::u16string join_path(std::u16string_view base, std::u16string_view name) {
    std::u16string joined(base);
    const bool bare_drive = joined.size() == 2 && has_drive(joined);
    if (!joined.empty() && !is_separator(joined.back()) && !bare_drive) joined += u'\\';
    joined.append(name);
    return joined;
}

bool path_is_inside(std::u16string_view path, std::u16string_view directory) {
    const PathParts inner = split_path(path);
    const PathParts outer = split_path(directory);
    if (inner.kind != outer.kind || inner.key != outer.key || inner.rooted != outer.rooted) return false;
    if (inner.names.size() < outer.names.size()) return false;
    for (std::size_t i = 0; i < outer.names.size(); ++i) {
        if (inner.names[i] != outer.names[i]) return false;
    }
    return true;
}

std::u16string working_directory(std::u16string_view final_path,
                                         const FullPathConversion& full_path) {
    if (final_path.substr(0, kExtendedPrefix.size()) != kExtendedPrefix) return std::u16string(final_path);
    const std::u16string_view rest = final_path.substr(kExtendedPrefix.size());
    std::u16string candidate;
    if (starts_with_ignoring_ascii_case(rest, u"UNC\\")) {
        candidate = u"\\\\";
        candidate.append(rest.substr(4));
    } else {
        candidate.assign(rest);
    }
    const std::optional<std::u16string> converted = full_path(candidate);
    if (converted && *converted == candidate) return candidate;
    return std::u16string(final_path);
}

std::u16string taskkill_program(const std::optional<std::u16string>& system_root) {
    return join_path(join_path(system_root.value_or(u"C:\\Windows"), u"System32"), u"taskkill.exe");
}

}  // namespace quern::platform::windows
