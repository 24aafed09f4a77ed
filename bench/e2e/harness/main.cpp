// Whole-process benchmark of quern-runtime against peer relays: throughput on
// three record shapes, request round trips, peak memory and idle CPU. Run by
// bench/run-e2e.sh, which builds everything and makes the record files.
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
    o.setup.jq = need("--jq");
    o.data_dir = need("--data");
    if (given.count("--runs")) o.runs = number("--runs", given["--runs"]);
    if (given.count("--round-trips")) o.round_trips = number("--round-trips", given["--round-trips"]);
    if (given.count("--idle-seconds")) o.idle_seconds = number("--idle-seconds", given["--idle-seconds"]);
    return o;
}

void measure_throughput(const Options& o, const std::array<Shape, kShapeCount>& shapes, Results& results) {
    for (int run = 0; run < o.runs; ++run) {
        // Every relay on every shape in each round, so drift in the machine's
        // speed touches all of them alike.
        for (std::size_t s = 0; s < kShapeCount; ++s) {
            for (Relay relay : kRelays) {
                Cell& cell = results.cells[static_cast<std::size_t>(relay)][s];
                const ThroughputRun r = run_throughput(o.setup, relay, shapes[s], run);
                cell.maxrss_kib = std::max(cell.maxrss_kib, r.maxrss_kib);
                cell.hwm_kib = std::max(cell.hwm_kib, r.hwm_kib);
                if (r.stderr_lines > cell.stderr_lines) {
                    cell.stderr_lines = r.stderr_lines;
                    cell.stderr_first = r.stderr_first;
                }
                if (r.ok) {
                    cell.mbps.push_back(static_cast<double>(shapes[s].input_bytes) / 1e6 / r.seconds);
                    std::fprintf(stderr, "run %d/%d %-6s %-16s %8.1f MB/s\n", run + 1, o.runs,
                                 shapes[s].name.c_str(), relay_name(relay), cell.mbps.back());
                } else {
                    cell.errors.push_back(r.error);
                    std::fprintf(stderr, "run %d/%d %-6s %-16s FAILED: %s\n", run + 1, o.runs,
                                 shapes[s].name.c_str(), relay_name(relay), r.error.c_str());
                }
            }
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
        results.load_before = load_average();
        measure_throughput(o, shapes, results);
        std::fprintf(stderr, "round trips: %d through the runtime, then through the pass-through\n", o.round_trips);
        const int warmup = std::min(200, o.round_trips);
        results.runtime_round_trip = run_round_trip(o.setup, true, o.round_trips, warmup);
        results.passthrough_round_trip = run_round_trip(o.setup, false, o.round_trips, warmup);
        std::fprintf(stderr, "idle CPU: %d s\n\n", o.idle_seconds);
        results.idle = measure_idle(o.setup, o.idle_seconds);
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
    try {
        return run(parse(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_bench: %s\n", error.what());
        std::fprintf(stderr,
                     "usage: e2e_bench --runtime PATH --backend PATH --passthrough PATH --rapidjson-relay PATH"
                     " --jq PATH --data DIR [--runs N] [--round-trips N] [--idle-seconds N]\n");
        return 2;
    }
}
