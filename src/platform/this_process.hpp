#pragma once

#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "platform/handle.hpp"
#include "platform/os_string.hpp"

namespace quern::platform {

// The runtime's own process: how it starts, its standard streams and how it ends.

// Sets the process up before anything else runs. POSIX: SIGPIPE is ignored, so
// a write to a closed pipe fails with EPIPE instead of killing the runtime, and
// SIGCHLD is back at its default, so the backend's exit can be waited for.
// Windows: no error dialog boxes, and the standard handles are made
// non-inheritable so that no child holds the front end's pipes.
void prepare_process();

// The whole command line, program name first. Windows splits GetCommandLineW()
// by the C runtime's rules and ignores argc/argv; POSIX takes argv's bytes.
std::vector<OsString> program_arguments(int argc, char** argv);

// The runtime's own standard input, borrowed: it is never closed.
NativeHandle standard_input();

// Write all of the bytes to the process's own standard output or error, straight
// to the OS handle (no C runtime buffering or text mode). False when any part
// could not be written, e.g. the reading end has been closed.
bool write_stdout(std::string_view bytes);
bool write_stderr(std::string_view bytes);

// Termination requests: the ways the OS asks the runtime to end that a
// program can catch. POSIX: SIGTERM, SIGINT and SIGHUP (one the runtime was
// started with ignored, as nohup leaves SIGHUP, stays ignored). Windows: the
// console's Ctrl+C, Ctrl+Break, close, logoff and shutdown events; on the last
// three the system ends the process once the handler returns, or after its own
// time-out, so the handler holds on until the process ends by itself.
// From this call on, each request is counted for wait_for_termination_request
// instead of ending the process. Call once, before anything waits. POSIX: the
// handler only writes to a pipe, a nonblocking one, so it never waits.
// Failure: the OS error text; the requests then end the process as before.
base::Status catch_termination_requests();

// Waits for the next request caught, and answers at once for one caught and
// not yet waited for: true once per request. False when no request can be
// passed on any more (POSIX: the handler's pipe reads its end or fails other
// than by EINTR; Windows: the wait fails); a caller stops waiting then, as
// every later call would answer false at once. Without
// catch_termination_requests it waits for good. One thread waits.
bool wait_for_termination_request();

// Ends the process at once with the code, without waiting for other threads.
[[noreturn]] void exit_process(int code);

// Ends the process after an internal fault (a broken invariant, a thread that
// cannot be created): "quern-runtime: internal fault: " and the diagnostic on
// standard error, as far as it can be written, then exit status 101.
[[noreturn]] void exit_internal_fault(std::string_view diagnostic);

}  // namespace quern::platform
