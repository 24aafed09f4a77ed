#pragma once

// A loop::Loop over recorded ways out, for driving the loop's own event
// handlers from a fuzz target: records are written through the real record
// writer into memory, notes are kept, the backend input channel's receiving end
// is held here, and the clock stands still.

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/channel.hpp"
#include "base/clock.hpp"
#include "io/events.hpp"
#include "io/output.hpp"
#include "json/value.hpp"
#include "loop/state.hpp"
#include "project/backend_control.hpp"

namespace quern::fuzz {

// A backend that is always running; the handlers under test never look at it.
struct IdleBackend final : project::ProcessControl {
    platform::ExitPoll poll() override { return {}; }
    void end_tree_by_force() override {}
    void end_tree_leftovers() override {}
};

struct LoopWorld {
    IdleBackend backend;
    std::pair<io::BackendInputSender, io::BackendInputReceiver> input =
        base::make_channel<std::string>(io::kBackendInputCapacity);
    // What reached "standard output", byte for byte, one entry per write.
    std::vector<std::string> writes;
    std::vector<std::string> notes;
    io::RecordWriter writer{[this](std::string_view bytes) {
        writes.emplace_back(bytes);
        return true;
    }};
    loop::LoopIo loop_io{[this](std::string_view record) {
                             const bool appended = writer.append_text(record);
                             return writer.flush() && appended;
                         },
                         [this](std::string_view text) { notes.emplace_back(text); },
                         [] { return base::TimePoint() + std::chrono::hours(1); },
                         [](std::chrono::milliseconds) {}};
    loop::Loop loop{loop::LoopState{}, input.first, backend, loop_io};

    // The values queued for the backend since the last call, in order.
    std::vector<std::string> take_sent() {
        std::vector<std::string> sent;
        std::string line;
        while (input.second.receive_for(std::chrono::milliseconds(0), line) ==
               io::BackendInputReceiver::Wait::Value) {
            sent.push_back(std::move(line));
        }
        return sent;
    }
};

}  // namespace quern::fuzz
