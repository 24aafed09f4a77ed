#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/os_error.hpp"
#include "platform/path.hpp"

namespace quern::platform {

namespace {

// The names of a path; empty ones (from "//" or a trailing '/') are skipped.
std::vector<OsStringView> path_names(OsStringView path) {
    std::vector<OsStringView> names;
    while (!path.empty()) {
        const std::size_t end = path.find('/');
        if (end != 0) names.push_back(path.substr(0, end));
        if (end == OsStringView::npos) break;
        path.remove_prefix(end + 1);
    }
    return names;
}

bool stat_following_links(const OsString& path, struct stat& status) {
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

bool is_absolute_path(OsStringView path) { return !path.empty() && path.front() == '/'; }

OsString join_path(OsStringView base, OsStringView name) {
    OsString joined(base);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

bool path_is_inside(OsStringView path, OsStringView directory) {
    if (is_absolute_path(path) != is_absolute_path(directory)) return false;
    const std::vector<OsStringView> inner = path_names(path);
    const std::vector<OsStringView> outer = path_names(directory);
    if (inner.size() < outer.size()) return false;
    for (std::size_t i = 0; i < outer.size(); ++i) {
        if (inner[i] != outer[i]) return false;
    }
    return true;
}

base::Result<OsString> final_path(const OsString& path) {
    // realpath with a null buffer allocates one of the right size (POSIX.1-2008).
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return base::Failure{os_error_text(last_os_error())};
    return OsString(resolved.get());
}

bool is_directory(const OsString& path) {
    struct stat status {};
    return stat_following_links(path, status) && S_ISDIR(status.st_mode);
}

bool is_file(const OsString& path) {
    struct stat status {};
    return stat_following_links(path, status) && S_ISREG(status.st_mode);
}

OsString working_directory_form(const OsString& final_path) { return final_path; }

const VenvInterpreter& venv_interpreter() {
    static const VenvInterpreter interpreter{{"bin", "python"}, false};
    return interpreter;
}

}  // namespace quern::platform
