#include "loop/termination.hpp"

namespace quern::loop {

void handle_termination_request(Loop& loop) {
    LoopState& state = loop.state;
    ++state.termination_requests;
    if (state.termination_requests == 1) return loop.begin_shutdown();
    if (state.termination_requests == 2) loop.fail_ending_tree("Runtime interrupted");
}

}  // namespace quern::loop
