#pragma once

#include <string>
#include <string_view>

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

}  // namespace quern::testing
