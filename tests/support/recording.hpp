#pragma once

// Reads back what the helper child program's "record" directive (or a
// project's recording gui_backend.py) wrote: records "key=value", each ended by
// a zero byte.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quern::testing {

struct Recording {
    std::vector<std::string> arguments;        // "arg", the program's own name first
    std::string command_line;                  // "line" (Windows only)
    std::string working_directory;             // "cwd"
    std::map<std::string, std::string> environment;  // "env", split at the first '=' after the first byte
    std::vector<std::string> descriptors;      // "fd" (POSIX only)
    std::string input;                         // "stdin"
};

inline void add_environment_entry(Recording& recording, std::string_view entry) {
    const std::size_t equals = entry.find('=', 1);
    recording.environment[std::string(entry.substr(0, equals))] =
        equals == std::string_view::npos ? std::string() : std::string(entry.substr(equals + 1));
}

inline Recording parse_recording(std::string_view bytes) {
    Recording recording;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        const std::string_view record = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        const std::size_t equals = record.find('=');
        const std::string_view key = record.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : record.substr(equals + 1);
        if (key == "arg") recording.arguments.emplace_back(value);
        if (key == "line") recording.command_line = value;
        if (key == "cwd") recording.working_directory = value;
        if (key == "env") add_environment_entry(recording, value);
        if (key == "fd") recording.descriptors.emplace_back(value);
        if (key == "stdin") recording.input = value;
    }
    return recording;
}

}  // namespace quern::testing
