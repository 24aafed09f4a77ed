#include "platform/windows_taskkill.hpp"

namespace quern::platform {

namespace {

bool is_bare_drive(std::u16string_view path) {
    return path.size() == 2 && path[1] == u':' &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

}  // namespace

void append_windows_component(std::u16string& path, std::u16string_view component) {
    const bool needs_separator =
        !path.empty() && path.back() != u'\\' && path.back() != u'/' && !is_bare_drive(path);
    if (needs_separator) path += u'\\';
    path += component;
}

std::u16string taskkill_program(const std::optional<std::u16string>& system_root) {
    std::u16string path = system_root.value_or(u"C:\\Windows");
    append_windows_component(path, u"System32");
    append_windows_component(path, u"taskkill.exe");
    return path;
}

}  // namespace quern::platform
