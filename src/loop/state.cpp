#include "loop/state.hpp"

#include "json/write.hpp"
#include "loop/timings.hpp"
#include "protocol/request.hpp"

namespace quern::loop {

void Loop::write_record(const json::Value& record) {
    record_text.clear();
    json::append_compact(record, record_text);
    write_record_text(record_text);
}

void Loop::write_record_text(std::string_view text) {
    const bool written = io.emit(text);
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

void Loop::fail(std::string message) {
    state.failure_message = std::move(message);
    begin_shutdown();
}

void Loop::fail_ending_tree(std::string message) {
    state.failure_message = std::move(message);
    backend.end_tree_by_force();
}

}  // namespace quern::loop
