#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os_string.hpp"
#include "platform/process.hpp"
#include "support/waits.hpp"

namespace quern::testing {

struct StartOptions {
    std::optional<platform::OsString> working_directory = {};  // the test's own when absent
    // "NAME=value" entries, inherited when absent. Windows wants them in
    // CreateProcessW's order, as platform::current_environment_with gives them.
    std::optional<std::vector<platform::OsString>> environment = {};
    // False: the reading end of its stdout is closed before it starts, as by a
    // reader that has gone away, so its first write to stdout fails. (Closing
    // it later is not offered: the reader thread may be blocked in a read,
    // and which of the program's writes would then fail is down to timing.)
    bool read_stdout = true;
    // True: nothing is read from its stdout until resume_stdout(), as by a
    // front end that is busy elsewhere; the pipe fills and pushes back.
    bool hold_stdout = false;
    // Still running this long after its start, it is killed and the test
    // fails (see wait_for_exit): a hang costs seconds, not ctest's time-out.
    std::chrono::milliseconds run_bound = kRunBound;
};

// A program a test starts and talks to as it runs, through pipes for all three
// of its standard streams. Both output streams are read as they come, so the
// program never blocks on a full pipe. Going out of scope closes its stdin,
// and ends it if it is still running. Every wait is bounded; one that runs
// out fails the test with what it waited for and what had come instead, and
// later waits on the same process no longer wait.
class TestProcess {
public:
    // The arguments come after the program's own name. Throws when the
    // program cannot be started.
    TestProcess(platform::OsString program, std::vector<platform::OsString> arguments,
                 StartOptions options = {});
    ~TestProcess();
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    platform::ProcessId pid() const { return process_.process_id(); }

    // Writes the bytes to its stdin; false when not all of them could be
    // written (it closed its stdin or exited, say).
    bool write(std::string_view bytes);
    // Writes the line and a line feed; a failed write fails the test.
    void send(std::string_view line);
    void close_stdin();
    // Ends it at once, in the one way no program can catch (SIGKILL,
    // TerminateProcess), as a crash or a task manager would.
    void kill();
    // Starts reading its stdout (see StartOptions::hold_stdout).
    void resume_stdout();

    // The next whole line of its stdout, without the line feed, as soon as it
    // is there. A line that should come: waits up to kPromptWait, and fails
    // the test when none comes. nullopt when none came or stdout ended.
    std::optional<std::string> next_line();
    // The same for a line that may not come: nullopt after the time-out, and
    // no failure.
    std::optional<std::string> next_line(std::chrono::milliseconds timeout);
    // Every whole stdout line not yet taken by next_line, without waiting.
    std::vector<std::string> lines();
    // Everything it wrote so far, whether or not taken as lines.
    std::string stdout_text() const;
    std::string stderr_text() const;

    // Waits for it to exit, then up to kPromptWait for its output streams to
    // end (a grandchild may hold them); the exit status, on POSIX 128 + N
    // after death by signal N. Everything it wrote is kept. When it ran past
    // StartOptions::run_bound it was killed, and the test fails.
    int wait_for_exit();
    // Whether it ran past its bound and was killed.
    bool overran() const;
    // From the start until wait_for_exit saw the exit.
    std::chrono::steady_clock::duration run_time() const { return exited_at_ - started_at_; }
    // From the start until its stdout ended (zero with read_stdout false).
    std::chrono::steady_clock::duration output_time() const;

private:
    struct Stream;
    struct Watchdog;

    // What it wrote last, for failure messages.
    std::string tail() const;

    platform::ChildProcess process_;
    platform::OwnedHandle stdin_;
    std::shared_ptr<Stream> stdout_;
    std::shared_ptr<Stream> stderr_;
    std::unique_ptr<Watchdog> watchdog_;
    bool wait_failed_ = false;
    std::chrono::steady_clock::time_point started_at_;
    std::chrono::steady_clock::time_point exited_at_;
};

// What a program run to completion did.
struct ProgramOutput {
    int exit_code = -1;  // on POSIX, 128 + N after death by signal N
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string_view stdin_text = {};  // written to its stdin, which is then closed
    bool close_stdout = false;         // the reading end of its stdout is closed from the start
};

// Starts the program, feeds its stdin, collects both output streams and waits
// for it to exit.
ProgramOutput run_program(const platform::OsString& program, const std::vector<platform::OsString>& arguments,
                          const RunOptions& options = {});

// UTF-8 strings as OS strings, for arguments.
std::vector<platform::OsString> os_strings(const std::vector<std::string>& texts);

// The quern-runtime executable built beside the tests.
platform::OsString runtime_binary();

// A program built beside quern-runtime (".exe" is added on Windows).
platform::OsString program_beside_runtime(std::string_view name);

// The tests' helper child program (support/test_child.cpp), built beside
// quern-runtime.
platform::OsString test_child();

// Runs quern-runtime to completion with UTF-8 arguments.
ProgramOutput run_runtime_binary(const std::vector<std::string>& arguments, const RunOptions& options = {});

}  // namespace quern::testing
