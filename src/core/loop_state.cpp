#include "core/loop_state.hpp"

#include "request/forwarded_request.hpp"

namespace quern {

void begin_shutdown(LoopState& state, request::BackendInputSender& backend_input, TimePoint now) {
    if (state.shutting_down()) return;
    (void)backend_input.offer(request::runtime_shutdown_record());
    state.shutdown_deadline = now + kShutdownGracePeriod;
}

}  // namespace quern
