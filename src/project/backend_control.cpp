#include "project/backend_control.hpp"

#include "platform/os_error.hpp"
#include "platform/process.hpp"

namespace quern::project {

ProcessPoll BackendControl::poll() {
    const platform::ExitPoll poll = process_.poll_exit();
    switch (poll.state) {
        case platform::ExitPoll::State::Running: return {};
        case platform::ExitPoll::State::Exited: return {ProcessPoll::State::Exited, poll.exit_code, {}};
        case platform::ExitPoll::State::Failed: break;
    }
    return {ProcessPoll::State::Failed, 0, platform::os_error_text(poll.error)};
}

}  // namespace quern::project
