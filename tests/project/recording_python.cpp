// A stand-in for a project's python in tests. It writes what it was given on
// its standard output as records "key=value", each ended by a zero byte, so a
// test can compare them (tests/support/recording.hpp reads them back).
//
// The first argument picks what it does:
//   exit N      exits at once with status N
//   wait-input  reads its standard input to the end, then exits with status 0
//   otherwise   (the backend's arguments) reads its standard input to the end,
//               then records "arg" for each argument, its own name first,
//               "line" (Windows: the raw command line), "cwd", "env" for each
//               variable, "fd" (POSIX: each open descriptor) and "stdin", then
//               writes "recorded\n" on standard error and exits with status 0.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/handle.hpp"
#include "platform/os_string.hpp"
#include "platform/this_process.hpp"

namespace {

using quern::platform::OsString;
using quern::platform::to_utf8_lossy;

std::string read_all_input() {
    std::string input;
    char buffer[4096];
    for (;;) {
        auto outcome = quern::platform::read_some(quern::platform::standard_input(), buffer, sizeof buffer);
        if (outcome.kind != quern::platform::ReadOutcome::Kind::Data) return input;
        input.append(buffer, outcome.size);
    }
}

void add_record(std::string& records, std::string_view key, std::string_view value) {
    records.append(key);
    records += '=';
    records.append(value);
    records += '\0';
}

void add_environment(std::string& records) {
#ifdef _WIN32
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        add_record(records, "env", to_utf8_lossy(entry));
    }
    FreeEnvironmentStringsW(block);
#else
    for (char** entry = environ; *entry != nullptr; ++entry) add_record(records, "env", *entry);
#endif
}

void add_platform_records(std::string& records) {
#ifdef _WIN32
    add_record(records, "line", to_utf8_lossy(GetCommandLineW()));
#else
    for (int fd = 0; fd < 1024; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) add_record(records, "fd", std::to_string(fd));
    }
#endif
}

int record_everything(const std::vector<OsString>& arguments) {
    const std::string input = read_all_input();
    std::string records;
    for (const OsString& argument : arguments) add_record(records, "arg", to_utf8_lossy(argument));
    add_platform_records(records);
    add_record(records, "cwd", to_utf8_lossy(std::filesystem::current_path().native()));
    add_environment(records);
    add_record(records, "stdin", input);
    if (!quern::platform::write_stdout(records)) return 3;
    return quern::platform::write_stderr("recorded\n") ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<OsString> arguments = quern::platform::program_arguments(argc, argv);
    const std::string mode = arguments.size() > 1 ? to_utf8_lossy(arguments[1]) : std::string();
    if (mode == "exit" && arguments.size() > 2) return std::atoi(to_utf8_lossy(arguments[2]).c_str());
    if (mode == "wait-input") {
        (void)read_all_input();
        return 0;
    }
    return record_everything(arguments);
}
