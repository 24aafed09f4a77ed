// Random scenarios of faults at both ends, for a bounded time, each held to the
// one check of fault_session.hpp.
//   QUERN_SOAK_SECONDS  how long to go on starting scenarios (60 by default;
//                       0 runs one)
//   QUERN_SOAK_SEED     the first scenario's seed (random by default); the
//                       scenario of seed S is the same everywhere, so a failure
//                       is repeated with QUERN_SOAK_SEED=S QUERN_SOAK_SECONDS=0
//   QUERN_SOAK_VERBOSE  if set, each scenario is described as it starts (a
//                       fault may need the scenarios before it)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "fault_session.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::optional<unsigned long long> from_environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(value, &end, 10);
    if (*end != '\0') return std::nullopt;
    return number;
}

struct Soak {
    std::string kind;  // for the tally
    FaultScenario scenario;
};

// Everything about a scenario follows from its seed.
Soak random_scenario(unsigned long long seed) {
    std::mt19937_64 random(seed);
    const auto pick = [&random](std::size_t count) { return static_cast<std::size_t>(random() % count); };
    const auto chance = [&pick](int percent) { return static_cast<int>(pick(100)) < percent; };
    RequestMix mix(seed * 0x9E3779B97F4A7C15ULL + 1);

    Soak soak;
    FaultScenario& scenario = soak.scenario;
    const std::size_t count = chance(30) ? 1000 + pick(3000) : 1 + pick(600);
    const RequestWeights weights{static_cast<int>(pick(25)), static_cast<int>(pick(25)), static_cast<int>(pick(10))};
    scenario.lines = mix.lines(count, weights);
#ifdef _WIN32
    const char* const codes[] = {"0", "1", "3", "255", "3221225477", "3221226505"};
#else
    const char* const codes[] = {"0", "1", "3", "255"};
#endif
    const std::string code = codes[pick(std::size(codes))];
    const std::string partial = chance(50) ? "{\"type\":\"response\",\"id\":" : "";
    std::string script;
    if (chance(20)) script += "grandchild 20000\n";
    if (chance(15)) script += "grandchild 20000\n";
    // Backends that stop only when asked, and those that end on their own.
    const std::size_t kind = pick(9);
    const bool stops_when_asked = kind < 6;
    switch (kind) {
        case 0: soak.kind = "serve"; break;
        case 1: soak.kind = "answers late"; script += "answer-late " + std::to_string(2 + pick(20)) + "\n"; break;
        case 2: soak.kind = "answers twice"; script += "answer-twice\n"; break;
        case 3: soak.kind = "answers unasked"; script += "answer-unasked\n"; break;
        case 4: soak.kind = "floods"; script += "flood " + std::to_string(100 + pick(3000)) + " " + std::to_string(seed) + "\n"; break;
        case 5:
            soak.kind = "crashes when asked to stop";
            script += "answer-late 1000000\nleave-at-shutdown\n";
            break;
        case 6:
            soak.kind = "crashes at any moment";
            script += "exit-after " + std::to_string(pick(800)) + " " + code + " " + partial + "\n";
            break;
        case 7: soak.kind = "closes its input"; script += "close-stdin\nsleep " + std::to_string(pick(800)) + "\nexit " + code + "\n"; break;
        default: soak.kind = "never reads"; script += "sleep " + std::to_string(pick(1500)) + "\nexit " + code + "\n"; break;
    }
    if (kind < 7) {
        if (chance(20)) script += "noisy " + std::to_string(seed) + "\n";
        if (kind != 5 && chance(15)) script += "answer-twice\n";
        if (kind != 5 && chance(15)) script += "answer-unasked\n";
        script += "serve\n";
        if (kind == 5) script += "stdout-partial " + partial + "\nexit " + code + "\n";
    }
    scenario.script = script;

    // The front end.
    if (chance(12)) {
        scenario.read_stdout = false;
    } else if (chance(12)) {
        scenario.hold_stdout = std::chrono::milliseconds(300 + pick(2000));
    }
    if (chance(10)) {
        scenario.lines.push_back(mix.cut_short());
        scenario.last_line_unterminated = true;
    }
    const bool shutdown_request = stops_when_asked && chance(12);
    if (shutdown_request) {
        scenario.lines.insert(scenario.lines.begin() + static_cast<std::ptrdiff_t>(pick(scenario.lines.size())),
                              mix.request("shutdown"));
    }
    scenario.input_end = !stops_when_asked && chance(60) ? InputEnd::LeaveOpen : InputEnd::Close;

    // What must come of it.
    scenario.may_end_early = !stops_when_asked || shutdown_request || !scenario.read_stdout;
    if (stops_when_asked) {
        scenario.stop = Stop::Clean;
    } else if (scenario.input_end == InputEnd::LeaveOpen && scenario.read_stdout) {
        scenario.stop = Stop::Unclean;
    } else {
        // Which comes first, the end of the runtime's input or of its stdout, or
        // the backend's own end, is a race.
        scenario.stop = Stop::Either;
    }
    scenario.description = "seed " + std::to_string(seed) + ": a backend that " + soak.kind + " (" + script +
                           "), " + std::to_string(scenario.lines.size()) + " lines" +
                           (scenario.read_stdout ? "" : ", stdout closed") +
                           (scenario.hold_stdout > 0ms ? ", stdout held " + std::to_string(scenario.hold_stdout.count()) + " ms" : "") +
                           (scenario.last_line_unterminated ? ", cut short" : "") +
                           (shutdown_request ? ", a shutdown request" : "") +
                           (scenario.input_end == InputEnd::Close ? ", then the end of input" : ", input left open");
    for (char& c : scenario.description) {
        if (c == '\n') c = ';';
    }
    return soak;
}

TEST(FaultSoak, RandomFaultsAtBothEndsKeepEveryPromise) {
    const unsigned long long seed = from_environment("QUERN_SOAK_SEED").value_or(std::random_device()());
    const unsigned long long seconds = from_environment("QUERN_SOAK_SECONDS").value_or(60);
    const bool verbose = std::getenv("QUERN_SOAK_VERBOSE") != nullptr;
    std::printf("fault soak: seed %llu, %llu s (QUERN_SOAK_SEED, QUERN_SOAK_SECONDS)\n", seed, seconds);
    std::fflush(stdout);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    std::map<std::string, int> tally;
    unsigned long long iterations = 0;
    int failures = 0;
    do {
        const unsigned long long this_seed = seed + iterations;
        const Soak soak = random_scenario(this_seed);
        if (verbose) {
            std::printf("%s\n", soak.scenario.description.c_str());
            std::fflush(stdout);
        }
        const FaultRun run = run_fault_scenario(soak.scenario);
        ++tally[soak.kind];
        ++iterations;
        if (!run.violations.empty()) {
            ADD_FAILURE() << "repeat with QUERN_SOAK_SEED=" << this_seed << " QUERN_SOAK_SECONDS=0\n"
                          << describe(soak.scenario, run);
            if (++failures == 3) break;
        }
    } while (Clock::now() < end);
    const double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60.0;
    std::printf("fault soak: %llu scenarios in %.1f s, %.1f a minute;", iterations, minutes * 60.0,
                static_cast<double>(iterations) / minutes);
    for (const auto& [kind, runs] : tally) std::printf(" %s %d;", kind.c_str(), runs);
    std::printf("\n");
    RecordProperty("scenarios", static_cast<int>(iterations));
}

}  // namespace
}  // namespace quern::testing
