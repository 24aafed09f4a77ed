#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "fire_hose.hpp"
#include "idle.hpp"
#include "paced.hpp"
#include "requests.hpp"
#include "round_trip.hpp"
#include "throughput.hpp"

namespace e2e {

inline constexpr std::size_t kShapeCount = 3;
inline constexpr std::size_t kPacedShapeCount = 2;  // small and medium
inline constexpr std::size_t kRelayCount = std::size(kRelays);

// The two ways through for the request direction, runtime first.
inline constexpr std::size_t kSideCount = 2;
inline constexpr std::size_t kRuntimeSide = 0;
inline constexpr std::size_t kPassThroughSide = 1;

// Every run of one relay on one shape.
struct Cell {
    std::vector<double> mbps;  // counted runs only
    std::vector<std::string> errors;
    std::vector<double> maxrss_kib;  // every run
    std::vector<double> hwm_kib;
    std::size_t stderr_lines = 0;
    std::string stderr_first;
};

struct Results {
    int runs = 0;
    std::array<std::string, kShapeCount> shape_names;
    std::array<std::size_t, kShapeCount> input_bytes{};
    std::array<std::size_t, kShapeCount> lines{};
    std::array<std::array<Cell, kShapeCount>, kRelayCount> cells;  // [relay][shape]

    std::array<RequestShape, kShapeCount> fire_hose_shapes;
    std::array<RequestShape, kPacedShapeCount> paced_shapes;
    std::array<std::array<std::vector<FireHoseRun>, kShapeCount>, kSideCount> fire_hose;  // [side][shape][run]
    std::array<std::array<std::vector<PacedRun>, kPacedShapeCount>, kSideCount> paced;
    std::array<std::vector<RoundTrip>, kSideCount> round_trips;
    std::vector<IdleCpu> idle;

    std::string load_before;  // /proc/loadavg: other work on the machine skews every number
    std::string load_after;
    long harness_hwm_kib = -1;  // its peak since the last start: a floor under every ru_maxrss above
};

// Prints the tables and the targets. Returns false when any output check
// failed or a measurement is missing: a fast wrong answer must not pass.
bool print_report(const Results& results, std::ostream& out);

}  // namespace e2e
