#pragma once

#include <string>

#include "setup.hpp"

namespace e2e {

struct IdleCpu {
    bool ok = false;
    std::string error;
    double seconds = 0;
    double tick_ms = -1;   // utime + stime from /proc/PID/stat, 10 ms steps
    double sched_ms = -1;  // run time of all its threads from schedstat, ns steps
};

// The runtime with a backend that prints nothing and a front end that sends
// nothing but keeps its input open: CPU the runtime uses over `seconds`, after
// a second to settle after start-up.
IdleCpu measure_idle(const Setup& setup, int seconds);

}  // namespace e2e
