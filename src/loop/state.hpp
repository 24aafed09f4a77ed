#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "io/events.hpp"
#include "json/value.hpp"
#include "project/backend_control.hpp"
#include "protocol/record_relay.hpp"
#include "protocol/request.hpp"

namespace quern::loop {

struct PendingEntry {
    json::Value id;  // as received, echoed when the request is answered at the end
    bool is_shutdown = false;
};

// Requests forwarded to the backend and not yet answered, by request key
// (protocol::request_key), ordered by the bytes of their keys.
class PendingRequests {
public:
    bool contains(std::string_view key) const { return entries_.find(key) != entries_.end(); }
    // False, changing nothing, when the key is pending already.
    bool insert(std::string_view key, bool is_shutdown) {
        const auto at = entries_.lower_bound(key);
        if (at != entries_.end() && at->first == key) return false;
        entries_.emplace_hint(at, std::string(key), is_shutdown);
        return true;
    }
    // Removing a key that is not pending does nothing.
    void remove(std::string_view key) {
        const auto entry = entries_.find(key);
        if (entry != entries_.end()) entries_.erase(entry);
    }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Takes every entry out, in ascending key order, giving each to each(PendingEntry)
    // as it goes: the ids are made one at a time, not all at once.
    template <typename Each>
    void drain(Each each) {
        for (const auto& [key, is_shutdown] : entries_) each(PendingEntry{protocol::id_of_key(key), is_shutdown});
        entries_.clear();
    }

private:
    // std::string's ordering compares bytes as unsigned char. Only the key is
    // kept of the id, which it gives back: a front end that streams requests
    // to a busy backend may have very many pending.
    std::map<std::string, bool, std::less<>> entries_;  // is_shutdown by key
};

// Everything the event loop owns and changes; no other thread touches it.
struct LoopState {
    PendingRequests pending;
    // Set once shutdown begins ("shutting down"); never cleared or moved.
    std::optional<base::TimePoint> shutdown_deadline;
    // Why the run ends unclean; a later failure replaces an earlier one.
    std::optional<std::string> failure_message;
    // False for good after the first failed record write.
    bool frontend_output_healthy = true;
    bool backend_stdout_closed = false;
    // The backend's stderr has ended too: a crashing backend's last words (its
    // traceback) are relayed before the runtime leaves.
    bool backend_stderr_closed = false;
    // When the loop first saw the backend gone, and its exit code if readable.
    std::optional<base::TimePoint> backend_exit;
    std::optional<std::uint32_t> exit_code;
    // How many times the OS asked the runtime to end (SIGTERM, Ctrl+C, ...).
    int termination_requests = 0;

    bool shutting_down() const { return shutdown_deadline.has_value(); }
    // Asked a second time: the backend's tree has been ended and the loop leaves.
    bool interrupted() const { return termination_requests >= 2; }
};

// Where the loop's records go, each as its compact text without the line
// feed: false when one could not be written.
using RecordSink = std::function<bool(std::string_view)>;
// Where the loop's lines for standard error go (notes, relayed backend lines).
using LineSink = std::function<void(std::string_view)>;

// The loop's ways out to the world: stdout records, stderr lines, the clock
// and sleeping. The runtime uses the real ones; tests record and script them.
// emit may hold records back until flush, which the loop calls before it
// waits or blocks.
struct LoopIo {
    RecordSink emit;
    LineSink note;
    std::function<base::TimePoint()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<bool()> flush = [] { return true; };
};

// What every step of the loop works on: its state and its ways out to the
// backend and to the world.
struct Loop {
    LoopState state;
    io::BackendInputSender& backend_input;
    project::ProcessControl& backend;
    const LoopIo& io;
    // Backend stdout lines that reach the loop unshaped become records here.
    protocol::RecordRelay relay{};
    // Request lines are checked here.
    protocol::RequestIntake intake{};
    // Each record's text on its way out, reused from record to record.
    std::string record_text{};

    // Writes one record to the front end; a failed write marks the front end's
    // output unhealthy for good (the next supervision pass begins the shutdown).
    void write_record(const json::Value& record);
    // The same for a record's compact text.
    void write_record_text(std::string_view text);
    // Sends on every record held back, folding a failure in the same way.
    void flush_records();

    // Asks the backend to stop, once: sends the runtime shutdown record without
    // waiting, behind whatever is queued and even when the channel is full
    // (lost only when the writer has stopped), and arms the deadline. Every
    // later call does nothing.
    void begin_shutdown();

    // The one way a run fails: the run ends unclean with the message (a later
    // failure's replaces it), and the backend is asked to stop
    // (begin_shutdown).
    void fail(std::string message);
    // The same, but the backend's tree is ended at once instead, for a run
    // that cannot wait out a grace period (interrupted, or the backend can no
    // longer be watched).
    void fail_ending_tree(std::string message);
};

}  // namespace quern::loop
