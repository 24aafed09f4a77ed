#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.hpp"

namespace quern::testing {

// A running quern-runtime, driven the way a front end drives it: requests
// written to its stdin, records read from its stdout, diagnostics from its
// stderr, all while it runs.
class RuntimeSession {
public:
    // With read_stdout false the front end has closed its end of the
    // runtime's stdout from the start.
    explicit RuntimeSession(const std::vector<platform::OsString>& arguments, bool read_stdout = true);
    ~RuntimeSession();

    void send(std::string_view line);  // the line and a line feed
    void close_stdin();

    // The next record line, or nullopt when none came within the time-out.
    std::optional<std::string> next_record(std::chrono::seconds timeout = std::chrono::seconds(30));

    // Waits for the runtime to exit; its status. Everything it wrote is kept.
    int wait_for_exit();
    std::chrono::steady_clock::duration run_time() const { return ended_ - started_; }
    // From the start until the runtime's stdout reached its end.
    std::chrono::steady_clock::duration output_time() const;

    std::vector<std::string> records();  // every stdout line not yet taken by next_record
    std::string stderr_text();

private:
    struct Stream;
    static void drain(platform::OwnedHandle pipe, std::shared_ptr<Stream> stream);

    platform::ChildProcess process_;
    platform::OwnedHandle stdin_;
    std::shared_ptr<Stream> stdout_;
    std::shared_ptr<Stream> stderr_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point ended_;
};

}  // namespace quern::testing
