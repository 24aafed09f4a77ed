#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/os_string.hpp"

namespace quern::testing {

// A project in a fresh temporary directory whose interpreter is the helper
// child program, so a test decides what "Python" does through script.txt.
class TempProject {
public:
    // The directory's name begins with the name when one is given.
    explicit TempProject(const std::string& name = {});
    ~TempProject();
    TempProject(const TempProject&) = delete;
    TempProject& operator=(const TempProject&) = delete;

    const std::filesystem::path& path() const { return root_; }
    void script(const std::string& directives) const;
    // The lines of a file the backend wrote, e.g. received.log.
    std::vector<std::string> lines_of(const std::string& name) const;
    // The process id a program of the backend's tree wrote to the file (the
    // pid-file directive), once the file holds a whole line; nothing when it
    // has not within 30 s.
    std::optional<unsigned long> await_pid(const std::string& name) const;
    // Waits up to 30 s for the file to hold the line; false when it does not.
    bool await_line(const std::string& name, const std::string& line) const;
    std::vector<platform::OsString> runtime_arguments() const;

private:
    std::filesystem::path root_;
};

}  // namespace quern::testing
