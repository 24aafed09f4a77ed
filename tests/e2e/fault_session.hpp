#pragma once

// A front end and a backend that misbehave on purpose, one run of the real
// runtime between them, and the one check every such run must pass.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/waits.hpp"

namespace quern::testing {

// One line the front end writes, and what must come of it.
struct RequestLine {
    std::string bytes;  // without the line feed
    // The compact text of its id; nullopt for a line refused before its id is
    // known, which is answered with a null id.
    std::optional<std::string> id_key;
    // Refused lines: the error of their one answer ("Malformed request JSON: "
    // stands for every parser text after it). Empty for a request the runtime
    // accepts.
    std::string refusal;
    std::string command;    // accepted requests
    std::string forwarded;  // accepted requests: the one line the backend reads for it
};

// How often the front end's stream holds each kind of trouble, in percent.
struct RequestWeights {
    int duplicate = 10;  // the id of a recent request again
    int malformed = 10;  // refused before its id is known
    int refused = 5;     // refused with its id
};

// The front end's side: requests of every shape, each with its answer's rules.
// The same seed gives the same lines.
class RequestMix {
public:
    explicit RequestMix(std::uint64_t seed) : random_(seed) {}

    std::vector<RequestLine> lines(std::size_t count, const RequestWeights& weights = {});

    RequestLine request(const std::string& command);  // a fresh id, any form, any payload
    RequestLine duplicate();                           // a fresh one when there is nothing to repeat
    RequestLine malformed();
    RequestLine refused();
    // A line of exactly the most bytes allowed, its line feed included: accepted.
    RequestLine longest();
    // One byte longer: refused.
    RequestLine one_byte_too_long();
    // A request cut short, as by a front end that dies mid-write.
    RequestLine cut_short();

    std::size_t pick(std::size_t count) { return static_cast<std::size_t>(random_() % count); }
    bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }

private:
    struct Id {
        int form = 0;
        std::uint64_t n = 0;
    };
    Id fresh_id();
    std::string id_text(const Id& id);
    static std::string id_key(const Id& id);
    RequestLine with_id(const Id& id, const std::string& command, std::string payload_text,
                        std::string payload_canonical);

    std::mt19937_64 random_;
    std::uint64_t next_ = 1;
    std::vector<std::pair<Id, std::string>> recent_;  // accepted requests: id and command
};

enum class Stop { Clean, Unclean, Either };

enum class InputEnd {
    Close,       // the front end closes the runtime's stdin after its last line
    LeaveOpen,   // it never does: the backend's end must end the run
};

struct FaultScenario {
    std::string description;  // what goes wrong, for messages
    std::string script;       // the backend's directives
    std::vector<RequestLine> lines;
    InputEnd input_end = InputEnd::Close;
    // The last line goes without its line feed before the end of input.
    bool last_line_unterminated = false;
    bool read_stdout = true;  // false: the front end has closed its end of stdout
    std::chrono::milliseconds hold_stdout{0};  // the front end reads nothing for this long
    // The front end writes nothing before the backend's {"type":"ready"} record.
    bool await_ready = false;
    Stop stop = Stop::Clean;
    // The runtime may end before it has read every line (the backend ended it,
    // or the front end's own shutdown request did): then only the lines it read,
    // which come first, are answered.
    bool may_end_early = false;
    // The fatal record's text, when the stop is unclean and it is known.
    std::optional<std::string> exit_message;
    // The project directory's name, when it matters.
    std::string project_name;
    // Files of the project to keep from the run (the project goes with it).
    std::vector<std::string> files;
    // The run must end within this long of the runtime's start; past it the
    // runtime is killed and the run fails.
    std::chrono::seconds within = kRunBound;
};

// What a run showed: everything the check looks at.
struct FaultRun {
    int exit_status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> received;  // what the backend read (received.log)
    std::map<std::string, std::string> files;  // FaultScenario::files, by name
    std::vector<std::string> violations;
};

// Runs the scenario against the real runtime and applies the one check:
// - every line the front end wrote gets exactly one answer (a relayed response
//   with its id, or one error response, with its id or with a null id for a
//   line refused before its id is known), none twice, none lost; when the run
//   may end early, the answered lines are the first ones; a backend scripted
//   to answer twice or to answer ids never asked has those answers of its own
//   relayed as it wrote them, and nothing else beside;
// - the exit status is 0 for a clean stop and 1 otherwise, with exactly one
//   fatal record, last, only when it is 1;
// - nothing but canonical records reaches the front end;
// - nothing but forwarded requests, in order, and at most one runtime shutdown
//   record, last, reaches the backend;
// - no process of the backend's tree is left (POSIX: its process group;
//   Windows: the backend itself);
// - no sanitizer report.
// With read_stdout false only the exit status, the backend's input and what is
// left can be checked.
FaultRun run_fault_scenario(const FaultScenario& scenario);

// The violations, one a line, with the scenario's description; empty when none.
std::string describe(const FaultScenario& scenario, const FaultRun& run);

}  // namespace quern::testing
