#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "idle.hpp"
#include "round_trip.hpp"
#include "throughput.hpp"

namespace e2e {

inline constexpr std::size_t kShapeCount = 3;
inline constexpr std::size_t kRelayCount = std::size(kRelays);

// Every run of one relay on one shape.
struct Cell {
    std::vector<double> mbps;  // counted runs only
    std::vector<std::string> errors;
    long maxrss_kib = -1;  // highest over the runs
    long hwm_kib = -1;
    std::size_t stderr_lines = 0;
    std::string stderr_first;
};

struct Results {
    int runs = 0;
    std::array<std::string, kShapeCount> shape_names;
    std::array<std::size_t, kShapeCount> input_bytes{};
    std::array<std::size_t, kShapeCount> lines{};
    std::array<std::array<Cell, kShapeCount>, kRelayCount> cells;  // [relay][shape]
    RoundTrip runtime_round_trip;
    RoundTrip passthrough_round_trip;
    IdleCpu idle;
    std::string load_before;  // /proc/loadavg: other work on the machine skews every number
    std::string load_after;
    long harness_hwm_kib = -1;  // a floor under every ru_maxrss above
};

// Prints the tables and the targets. Returns false when any output check
// failed or a measurement is missing: a fast wrong answer must not pass.
bool print_report(const Results& results, std::ostream& out);

}  // namespace e2e
