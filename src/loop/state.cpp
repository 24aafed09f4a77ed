#include "loop/state.hpp"

#include "protocol/request.hpp"

namespace quern::loop {

std::vector<PendingEntry> PendingRequests::drain() {
    std::vector<PendingEntry> drained;
    drained.reserve(entries_.size());
    for (auto& [key, entry] : entries_) drained.push_back(std::move(entry));
    entries_.clear();
    return drained;
}

void Loop::write_record(const json::Value& record) {
    const bool written = io.emit(record);
    state.frontend_output_healthy = state.frontend_output_healthy && written;
}

void Loop::flush_records() {
    const bool written = io.flush();
    state.frontend_output_healthy = state.frontend_output_healthy && written;
}

void Loop::begin_shutdown() {
    if (state.shutting_down()) return;
    (void)backend_input.send_beyond_capacity(protocol::runtime_shutdown_record());
    state.shutdown_deadline = io.now() + kShutdownGracePeriod;
}

}  // namespace quern::loop
