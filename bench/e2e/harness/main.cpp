// Whole-process benchmark of quern-runtime against peer relays, both ways:
// relay throughput (backend -> front end) on three record shapes, requests
// (front end -> backend) as a fire-hose on three shapes and paced as the Node
// client paces them, round trips, peak memory and idle CPU. Run by
// bench/run-e2e.sh, which builds everything and makes the record files.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "process.hpp"
#include "report.hpp"

namespace {

using namespace e2e;

struct Options {
    Setup setup;
    std::string data_dir;
    int runs = 7;
    int round_trips = 5000;
    int idle_seconds = 10;
    int request_mb = 8;        // fire-hose requests per shape, in MB
    int paced_requests = 20000;  // small; medium gets a fifth
};

int number(const std::string& flag, const std::string& text) {
    try {
        const int value = std::stoi(text);
        if (value > 0) return value;
    } catch (const std::exception&) {
    }
    throw std::runtime_error(flag + " needs a positive number, not " + text);
}

Options parse(int argc, char** argv) {
    std::map<std::string, std::string> given;
    for (int i = 1; i + 1 < argc; i += 2) given[argv[i]] = argv[i + 1];
    const auto need = [&](const std::string& flag) {
        const auto it = given.find(flag);
        if (it == given.end()) throw std::runtime_error("missing " + flag);
        return it->second;
    };
    if (argc % 2 == 0) throw std::runtime_error("options come in pairs");
    Options o;
    o.setup.runtime = need("--runtime");
    o.setup.backend = need("--backend");
    o.setup.passthrough = need("--passthrough");
    o.setup.rapidjson_relay = need("--rapidjson-relay");
    o.setup.simdjson_relay = need("--simdjson-relay");
    o.setup.jq = need("--jq");
    o.data_dir = need("--data");
    if (given.count("--runs")) o.runs = number("--runs", given["--runs"]);
    if (given.count("--round-trips")) o.round_trips = number("--round-trips", given["--round-trips"]);
    if (given.count("--idle-seconds")) o.idle_seconds = number("--idle-seconds", given["--idle-seconds"]);
    if (given.count("--request-mb")) o.request_mb = number("--request-mb", given["--request-mb"]);
    if (given.count("--paced-requests")) o.paced_requests = number("--paced-requests", given["--paced-requests"]);
    return o;
}

const char* side_name(std::size_t side) { return side == kRuntimeSide ? "runtime" : "pass-through"; }

void throughput_round(const Options& o, int run, const std::array<Shape, kShapeCount>& shapes, Results& results) {
    for (std::size_t s = 0; s < kShapeCount; ++s) {
        for (Relay relay : kRelays) {
            Cell& cell = results.cells[static_cast<std::size_t>(relay)][s];
            const ThroughputRun r = run_throughput(o.setup, relay, shapes[s], run);
            cell.maxrss_kib.push_back(static_cast<double>(r.maxrss_kib));
            if (relay == Relay::Runtime) cell.hwm_kib.push_back(static_cast<double>(r.hwm_kib));
            if (r.stderr_lines > cell.stderr_lines) {
                cell.stderr_lines = r.stderr_lines;
                cell.stderr_first = r.stderr_first;
            }
            if (r.ok) {
                cell.mbps.push_back(static_cast<double>(shapes[s].input_bytes) / 1e6 / r.seconds);
                std::fprintf(stderr, "run %d/%d relay     %-6s %-16s %8.1f MB/s\n", run + 1, o.runs,
                             shapes[s].name.c_str(), relay_name(relay), cell.mbps.back());
            } else {
                cell.errors.push_back(r.error);
                std::fprintf(stderr, "run %d/%d relay     %-6s %-16s FAILED: %s\n", run + 1, o.runs,
                             shapes[s].name.c_str(), relay_name(relay), r.error.c_str());
            }
        }
    }
}

void request_round(const Options& o, int run, Results& results) {
    for (std::size_t s = 0; s < kShapeCount; ++s) {
        const RequestShape& shape = results.fire_hose_shapes[s];
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            const FireHoseRun r = run_fire_hose(o.setup, side == kRuntimeSide, shape, run);
            results.fire_hose[side][s].push_back(r);
            if (r.ok) {
                std::fprintf(stderr, "run %d/%d fire-hose %-6s %-16s %8.1f k req/s, %zu refused\n", run + 1, o.runs,
                             shape.name.c_str(), side_name(side), static_cast<double>(shape.count) / r.seconds / 1e3,
                             r.refused);
            } else {
                std::fprintf(stderr, "run %d/%d fire-hose %-6s %-16s FAILED: %s\n", run + 1, o.runs,
                             shape.name.c_str(), side_name(side), r.error.c_str());
            }
        }
    }
    for (std::size_t s = 0; s < kPacedShapeCount; ++s) {
        const RequestShape& shape = results.paced_shapes[s];
        for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
            const PacedRun r = run_paced(o.setup, side == kRuntimeSide, shape, std::min<std::size_t>(500, shape.count), run);
            results.paced[side][s].push_back(r);
            if (r.ok) {
                std::fprintf(stderr, "run %d/%d paced     %-6s %-16s %8.1f k req/s\n", run + 1, o.runs,
                             shape.name.c_str(), side_name(side), r.requests_per_second / 1e3);
            } else {
                std::fprintf(stderr, "run %d/%d paced     %-6s %-16s FAILED: %s\n", run + 1, o.runs,
                             shape.name.c_str(), side_name(side), r.error.c_str());
            }
        }
    }
    const int warmup = std::min(200, o.round_trips);
    for (std::size_t side : {kRuntimeSide, kPassThroughSide}) {
        const RoundTrip r = run_round_trip(o.setup, side == kRuntimeSide, o.round_trips, warmup);
        results.round_trips[side].push_back(r);
        if (r.ok) {
            std::fprintf(stderr, "run %d/%d round trip       %-16s median %.1f µs, p99 %.1f µs\n", run + 1, o.runs,
                         side_name(side), r.median_us, r.p99_us);
        } else {
            std::fprintf(stderr, "run %d/%d round trip       %-16s FAILED: %s\n", run + 1, o.runs, side_name(side),
                         r.error.c_str());
        }
    }
}

// The three load averages of /proc/loadavg.
std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

int run(const Options& options) {
    Options o = options;
    create_project(o.setup);
    Results results;
    results.runs = o.runs;
    bool ok = false;
    try {
        const std::array<Shape, kShapeCount> shapes = {load_shape(o.data_dir, "small"), load_shape(o.data_dir, "medium"),
                                                       load_shape(o.data_dir, "large")};
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            results.shape_names[s] = shapes[s].name;
            results.input_bytes[s] = shapes[s].input_bytes;
            results.lines[s] = shapes[s].lines;
        }
        const std::size_t request_bytes = static_cast<std::size_t>(o.request_mb) * 1'000'000;
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            results.fire_hose_shapes[s] = request_shape(shapes[s].name, request_bytes);
        }
        const auto paced = static_cast<std::size_t>(o.paced_requests);
        results.paced_shapes = {request_shape_of_count("small", paced),
                                request_shape_of_count("medium", std::max<std::size_t>(1, paced / 5))};
        results.load_before = load_average();
        // Every measurement in each round, so drift in the machine's speed
        // touches all of them alike, and each runtime run has its pass-through
        // run right beside it.
        for (int run = 0; run < o.runs; ++run) {
            throughput_round(o, run, shapes, results);
            request_round(o, run, results);
        }
        for (int run = 0; run < o.runs; ++run) {
            std::fprintf(stderr, "run %d/%d idle CPU: %d s\n", run + 1, o.runs, o.idle_seconds);
            results.idle.push_back(measure_idle(o.setup, o.idle_seconds));
        }
        std::fprintf(stderr, "\n");
        results.load_after = load_average();
        results.harness_hwm_kib = vm_hwm_kib(::getpid());
        ok = print_report(results, std::cout);
    } catch (...) {
        remove_work_dir(o.setup);
        throw;
    }
    remove_work_dir(o.setup);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A relay that dies must show up as a failed run, not end the harness.
    ::signal(SIGPIPE, SIG_IGN);
    // Every child's ru_maxrss starts from this process's own peak, so the
    // harness keeps it low and level: its big buffers are mapped and given
    // back whole (a fixed threshold, not glibc's rising one), and the reader
    // threads share the main arena.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 16);
    ::mallopt(M_ARENA_MAX, 1);
    try {
        return run(parse(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_bench: %s\n", error.what());
        std::fprintf(stderr,
                     "usage: e2e_bench --runtime PATH --backend PATH --passthrough PATH --rapidjson-relay PATH"
                     " --simdjson-relay PATH --jq PATH --data DIR [--runs N] [--round-trips N] [--idle-seconds N]"
                     " [--request-mb N] [--paced-requests N]\n");
        return 2;
    }
}
