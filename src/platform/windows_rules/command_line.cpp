#include "platform/windows_rules/command_line.hpp"

namespace quern::platform::windows {

namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::size_t split_program_name(std::u16string_view line, std::u16string& name) {
    std::size_t at = 0;
    bool quoted = false;
    for (; at < line.size(); ++at) {
        char16_t c = line[at];
        if (c == u'"') {
            quoted = !quoted;
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            name += c;
        }
    }
    return at;
}

// Reads one argument starting at a non-blank position; returns the position after it.
std::size_t split_argument(std::u16string_view line, std::size_t at, std::u16string& arg) {
    bool quoted = false;
    while (at < line.size()) {
        char16_t c = line[at];
        if (c == u'\\') {
            std::size_t run = 0;
            while (at < line.size() && line[at] == u'\\') ++run, ++at;
            if (at < line.size() && line[at] == u'"') {
                arg.append(run / 2, u'\\');
                if (run % 2 == 1) {
                    arg += u'"';
                    ++at;
                }
            } else {
                arg.append(run, u'\\');
            }
        } else if (c == u'"') {
            if (quoted && at + 1 < line.size() && line[at + 1] == u'"') {
                arg += u'"';
                at += 2;
            } else {
                quoted = !quoted;
                ++at;
            }
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            arg += c;
            ++at;
        }
    }
    return at;
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::vector<std::u16string> args(1);
    std::size_t at = split_program_name(line, args[0]);
    for (;;) {
        while (at < line.size() && is_blank(line[at])) ++at;
        if (at >= line.size()) break;
        std::u16string arg;
        at = split_argument(line, at, arg);
        args.push_back(std::move(arg));
    }
    return args;
}

void append_argument(std::u16string_view argument, std::u16string& line) {
    const bool quote = argument.empty() || argument.find_first_of(u" \t") != std::u16string_view::npos;
    if (quote) line += u'"';
    std::size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        line += c;
    }
    if (quote) {
        line.append(backslashes * 2, u'\\');
        line += u'"';
    } else {
        line.append(backslashes, u'\\');
    }
}

std::u16string child_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments) {
    std::u16string line = u"\"";
    line += program;
    line += u'"';
    for (const std::u16string& argument : arguments) {
        line += u' ';
        append_argument(argument, line);
    }
    return line;
}

}  // namespace quern::platform::windows
