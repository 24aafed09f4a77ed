#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/channel.hpp"
#include "base/clock.hpp"
#include "io/events.hpp"
#include "json/write.hpp"
#include "loop/state.hpp"
#include "loop/timings.hpp"
#include "project/backend_control.hpp"

namespace quern::loop {

// A backend whose polls follow a script; the last answer repeats.
struct ScriptedBackend : project::ProcessControl {
    std::deque<platform::ExitPoll> script;
    platform::ExitPoll last;
    int polls = 0;
    int terminations = 0;
    int leftovers_ended = 0;
    platform::ExitPoll after_termination{platform::ExitPoll::State::Exited, 1, 0};

    platform::ExitPoll poll() override {
        ++polls;
        if (!script.empty()) {
            last = script.front();
            script.pop_front();
        }
        return last;
    }
    void end_tree_by_force() override {
        ++terminations;
        script = {after_termination};
    }
    void end_tree_leftovers() override { ++leftovers_ended; }
};

inline platform::ExitPoll running() { return {platform::ExitPoll::State::Running, 0, 0}; }
inline platform::ExitPoll exited(std::uint32_t code) { return {platform::ExitPoll::State::Exited, code, 0}; }

// Everything the loop works with, scripted or recorded: the backend, the
// backend input channel with the writer's end held here, the records and notes
// written, and a clock that moves only when a test (or the loop's sleep) moves it.
struct LoopWorld : ::testing::Test {
    ScriptedBackend backend;
    std::pair<io::BackendInputSender, io::BackendInputReceiver> input =
        base::make_channel<std::string>(io::kBackendInputCapacity);
    std::vector<std::string> records;
    std::vector<std::string> notes;
    bool output_ok = true;
    base::TimePoint start = base::TimePoint() + std::chrono::hours(1);
    base::TimePoint clock = start;
    LoopIo loop_io{[this](std::string_view record) {
                       records.emplace_back(record);
                       return output_ok;
                   },
                   [this](std::string_view text) { notes.emplace_back(text); },
                   [this] { return clock; },
                   [this](std::chrono::milliseconds pause) { clock += pause; }};

    // What the backend would be sent, in order. The loop's sender lets go
    // first, as it does when a run ends, so that the reading stops.
    std::vector<std::string> sent_to_backend() {
        input.first.release();
        std::vector<std::string> lines;
        while (auto line = input.second.receive()) lines.push_back(std::move(*line));
        return lines;
    }
};

// One step of the loop at a time: its handlers are called directly on a Loop
// over the world.
struct LoopStepFixture : LoopWorld {
    Loop loop{LoopState{}, input.first, backend, loop_io};
};

}  // namespace quern::loop
