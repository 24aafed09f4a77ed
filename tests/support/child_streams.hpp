#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/handle.hpp"

namespace quern::testing {

// Pipe ends of children that the code under test starts itself (the platform
// layer, the backend launch) rather than a TestProcess.

// Everything readable from a pipe end until the writers have closed it, then
// closes it.
inline std::string read_to_end(platform::OwnedHandle& end) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const platform::ReadOutcome outcome = platform::read_some(end.native(), buffer, sizeof buffer);
        if (outcome.kind != platform::ReadOutcome::Kind::Data) break;
        text.append(buffer, outcome.size);
    }
    end.close();
    return text;
}

// Writes the text to a pipe end, then closes it so the reader sees its end.
inline bool write_and_close(platform::OwnedHandle& end, std::string_view text) {
    const bool written = platform::write_all(end.native(), text).ok();
    end.close();
    return written;
}

// Whether every writer of the pipe has closed it within the limit, the bytes
// unread. The reader is left behind when not, so a failing test does not hang.
inline bool pipe_ends_within(platform::OwnedHandle end, std::chrono::seconds limit) {
    auto ended = std::make_shared<std::promise<void>>();
    std::future<void> seen = ended->get_future();
    std::thread([end = std::move(end), ended]() mutable {
        (void)read_to_end(end);
        ended->set_value();
    }).detach();
    return seen.wait_for(limit) == std::future_status::ready;
}

}  // namespace quern::testing
