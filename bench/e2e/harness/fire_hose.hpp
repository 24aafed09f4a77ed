#pragma once

#include <cstddef>
#include <string>

#include "requests.hpp"
#include "setup.hpp"

namespace e2e {

struct FireHoseRun {
    bool ok = false;
    std::string error;
    double seconds = 0;         // start of the relay to the end marker's answer
    std::size_t refused = 0;    // "sending on a full channel" answers
    std::size_t delivered = 0;  // lines the backend counted
    double cpu_ms = -1;         // the relay's own run time (schedstat, all its threads) up to the answer
    long maxrss_kib = -1;       // wait4's ru_maxrss of the relay
    long hwm_kib = -1;          // its own VmHWM at the answer
    std::size_t stderr_lines = 0;
    std::string stderr_first;
};

// The request direction as fast as it goes: the harness writes every request
// of the shape without waiting for anything, then an end marker (command
// "benchmark", id "end-K"), to the counting backend (QUERN_BENCH_MODE=count)
// through the runtime or `passthrough --spawn`. A thread reads the relay's
// output all along, so refusals never hold the writer up. The marker is sent
// again, with a new id, while the runtime refuses it. Its answer carries the
// backend's count and stops the clock; then the relay's input closes.
//
// Checks: every request was either counted by the backend or refused
// (counted + refused = sent), the marker's count equals the count the backend
// wrote at the end of its input, nothing else came back but, from the
// runtime, one "Python backend exited" answer per delivered request (each is
// still pending when the backend exits), and the relay exited 0.
FireHoseRun run_fire_hose(const Setup& setup, bool through_runtime, const RequestShape& shape, int run_index);

}  // namespace e2e
