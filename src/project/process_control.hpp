#pragma once

#include <cstdint>
#include <string>

namespace quern {

// One look at the backend without waiting.
struct ProcessPoll {
    enum class State { Running, Exited, Failed };
    State state = State::Running;
    std::uint32_t exit_code = 0;  // for Exited
    std::string error_text;       // for Failed: the OS error text
};

// What the event loop needs of the backend process: the real one drives the
// OS process, tests stand in with a scripted one.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;

    virtual ProcessPoll poll() = 0;
    // Ends the backend and everything it started; blocks a few seconds at most.
    virtual void terminate_tree() = 0;
};

}  // namespace quern
