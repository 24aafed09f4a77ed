#pragma once

#include <cstddef>
#include <string>

#include "setup.hpp"

namespace e2e {

enum class Relay { Runtime, RapidJson, SimdJson, Jq, PassThrough };
inline constexpr Relay kRelays[] = {Relay::Runtime, Relay::RapidJson, Relay::SimdJson, Relay::Jq, Relay::PassThrough};

const char* relay_name(Relay relay);

struct ThroughputRun {
    bool ok = false;
    std::string error;      // why the run does not count
    double seconds = 0;     // start of the first process to the last expected line
    long maxrss_kib = -1;   // wait4's ru_maxrss of the relay process
    long hwm_kib = -1;      // runtime only: its own VmHWM just before it is told to stop
    std::size_t stderr_lines = 0;
    std::string stderr_first;
};

// One pass of a shape's file: writer -> relay -> this process, which checks
// what arrives. The runtime starts the writer itself as its backend; the peers
// get it on their standard input. The writer's input (the runtime's, for the
// runtime) stays open until every line has arrived, then closing it ends the
// pipeline. The runtime's output must equal the expected canonical text byte
// for byte, as must the RapidJSON relay's; the pass-through's must equal the
// input; jq's and the simdjson relay's (whose numbers are printed their own
// way) must have every line.
ThroughputRun run_throughput(const Setup& setup, Relay relay, const Shape& shape, int run_index);

}  // namespace e2e
