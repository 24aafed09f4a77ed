#include "fault_session.hpp"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "json/parse.hpp"
#include "json/write.hpp"
#include "platform/os_error.hpp"
#include "process_probe.hpp"
#include "protocol/records.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kRuntimeShutdown = R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})";
constexpr std::string_view kRuntimeShutdownKey = R"("__runtime_shutdown__")";
// Stands for every "Malformed request JSON: " refusal, whatever the parser says.
constexpr std::string_view kMalformed = "Malformed request JSON: ";
constexpr std::string_view kOversized = "Request exceeds the 64 KiB limit";
constexpr std::size_t kRequestLimit = 65536;  // a request line, its line feed included

// What may answer an accepted request besides the backend and the exit path.
const std::set<std::string, std::less<>> kRuntimeRefusals = {
    "Runtime is shutting down",
    "Request id is already pending",
    "Cannot queue backend request: sending on a full channel",
    "Cannot queue backend request: sending on a closed channel",
};

const char* const kCommands[] = {"status", "generate", "train", "cancel", "voice_status", "account_list", "agent_status"};

std::string shortened(std::string_view text) {
    constexpr std::size_t kShown = 160;
    std::string shown(text.substr(0, kShown));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    if (text.size() > kShown) shown += "... (" + std::to_string(text.size()) + " bytes)";
    return shown;
}

}  // namespace

// ---- the front end's lines ----

RequestMix::Id RequestMix::fresh_id() { return Id{static_cast<int>(pick(6)), next_++}; }

// Any of the texts that decode to the id: its key does not change with it.
std::string RequestMix::id_text(const Id& id) {
    const std::string n = std::to_string(id.n);
    switch (id.form) {
        case 0: return n;
        case 1: return "\"r" + n + "\"";
        case 2: return chance(50) ? "\"\\u00e9" + n + "\"" : "\"\xC3\xA9" + n + "\"";
        case 3: return chance(50) ? n + ".5" : n + ".50";
        case 4: return chance(50) ? n + ".0" : n + "e0";
        default: return "\"" + n + "\"";
    }
}

std::string RequestMix::id_key(const Id& id) {
    const std::string n = std::to_string(id.n);
    switch (id.form) {
        case 0: return n;
        case 1: return "\"r" + n + "\"";
        case 2: return "\"\xC3\xA9" + n + "\"";
        case 3: return n + ".5";
        case 4: return n + ".0";
        default: return "\"" + n + "\"";
    }
}

RequestLine RequestMix::with_id(const Id& id, const std::string& command, std::string payload_text,
                                std::string payload_canonical) {
    std::vector<std::pair<std::string, std::string>> members = {{"id", id_text(id)},
                                                                 {"command", "\"" + command + "\""}};
    if (!payload_text.empty()) members.emplace_back("payload", std::move(payload_text));
    std::string session_canonical;
    switch (pick(4)) {
        case 0: session_canonical = "null"; break;
        case 1: session_canonical = "\"0123456789abcdef\""; break;
        default: break;
    }
    if (!session_canonical.empty()) members.emplace_back("session", session_canonical);
    std::shuffle(members.begin(), members.end(), random_);
    const bool spaced = chance(30);
    std::string bytes = spaced ? "{ " : "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) bytes += spaced ? " , " : ",";
        bytes += "\"" + members[i].first + "\"" + (spaced ? " : " : ":") + members[i].second;
    }
    bytes += spaced ? " }" : "}";
    if (chance(10)) bytes += '\r';
    RequestLine line;
    line.bytes = std::move(bytes);
    line.id_key = id_key(id);
    line.command = command;
    line.forwarded = "{\"command\":\"" + command + "\",\"id\":" + *line.id_key + ",\"payload\":" +
                     payload_canonical + (session_canonical.empty() ? "" : ",\"session\":" + session_canonical) + "}";
    return line;
}

RequestLine RequestMix::request(const std::string& command) {
    // Text as a front end might write it, and the one form the backend must get.
    static const std::pair<const char*, const char*> kPayloads[] = {
        {"", "{}"},
        {"{}", "{}"},
        {R"({ "b" : [true, null] , "a" : 1 })", R"({"a":1,"b":[true,null]})"},
        {R"({"z":{"y":2,"x":1.50,"w":1e2}})", R"({"z":{"w":100.0,"x":1.5,"y":2}})"},
        // Escapes that must stay escapes: nothing in a value may end the line.
        {R"({"s":"line\nbreak\r \u2028 \"q\" \\ \u0000 \/"})",
         "{\"s\":\"line\\nbreak\\r \xE2\x80\xA8 \\\"q\\\" \\\\ \\u0000 /\"}"},
        {R"({"text":"}\n{\"id\":666,\"command\":\"train\"}"})", R"({"text":"}\n{\"id\":666,\"command\":\"train\"}"})"},
    };
    const Id id = fresh_id();
    const auto& [text, canonical] = kPayloads[pick(std::size(kPayloads))];
    RequestLine line = with_id(id, command, text, canonical);
    if (command != "shutdown") {
        recent_.emplace_back(id, command);
        if (recent_.size() > 16) recent_.erase(recent_.begin());
    }
    return line;
}

RequestLine RequestMix::duplicate() {
    if (recent_.empty()) return request(kCommands[pick(std::size(kCommands))]);
    const Id id = recent_[pick(recent_.size())].first;
    return with_id(id, kCommands[pick(std::size(kCommands))], "", "{}");
}

RequestLine RequestMix::malformed() {
    static const std::pair<std::string_view, std::string_view> kLines[] = {
        {"", "Malformed request JSON: EOF while parsing a value at line 1 column 0"},
        {"not json", kMalformed},
        {R"({"id":1,"command":"status")", kMalformed},
        {"{\"id\":1,\"command\":\"status\"}\0", kMalformed},
        {"{\"id\":1,\"command\":\"status\"}\r{\"id\":2,\"command\":\"train\"}", kMalformed},
        {R"({"id":1,"command":"status"} {"id":2,"command":"train"})", kMalformed},
        {"[1,2]", "Request must be a JSON object"},
        {R"("status")", "Request must be a JSON object"},
        {"null", "Request must be a JSON object"},
        {R"({"id":1,"command":"status","extra":true})", "Unknown request envelope field"},
        {R"({"id":1,"command":"status","Id":2})", "Unknown request envelope field"},
        {R"({"id":true,"command":"status"})", "Request id must be a string or number"},
        {R"({"command":"status"})", "Request id must be a string or number"},
        {R"({"id":null,"command":"status"})", "Request id must be a string or number"},
        {R"({"id":[1],"command":"status"})", "Request id must be a string or number"},
        {"{\"id\":1,\"command\":\"st\xFF\"}", "Request must be UTF-8 JSON"},
        {"{\"id\":\"\xED\xA0\x80\",\"command\":\"status\"}", "Request must be UTF-8 JSON"},
    };
    using namespace std::string_view_literals;
    // The line with a NUL needs its length spelled out.
    static const std::string with_nul = std::string("{\"id\":1,\"command\":\"status\"}\0"sv);
    const std::size_t which = pick(std::size(kLines));
    RequestLine line;
    line.bytes = which == 3 ? with_nul : std::string(kLines[which].first);
    line.refusal = kLines[which].second;
    return line;
}

RequestLine RequestMix::refused() {
    static const std::pair<const char*, const char*> kBodies[] = {
        {R"("command":5)", "Request command must be a string"},
        {R"("payload":{})", "Request command must be a string"},
        {R"("command":"rm -rf /")", "Unknown command; use a supported Quern training or generation command"},
        {R"("command":"STATUS")", "Unknown command; use a supported Quern training or generation command"},
        {R"("command":"status; train")", "Unknown command; use a supported Quern training or generation command"},
        {R"("command":"status","payload":[1])", "Request payload must be a JSON object"},
        {R"("command":"status","payload":"x")", "Request payload must be a JSON object"},
        {R"("command":"status","session":"short")", "Invalid session envelope"},
        {R"("command":"status","session":5)", "Invalid session envelope"},
    };
    const Id id = fresh_id();
    const auto& [body, refusal] = kBodies[pick(std::size(kBodies))];
    RequestLine line;
    line.bytes = "{\"id\":" + id_text(id) + "," + body + "}";
    line.id_key = id_key(id);
    line.refusal = refusal;
    return line;
}

RequestLine RequestMix::longest() {
    const Id id{0, next_++};
    const std::string head = R"({"command":"status","id":)" + id_key(id) + R"(,"payload":{"p":")";
    const std::string tail = "\"}}";
    RequestLine line;
    line.bytes = head + std::string(kRequestLimit - 1 - head.size() - tail.size(), 'p') + tail;
    line.id_key = id_key(id);
    line.command = "status";
    line.forwarded = line.bytes;
    return line;
}

RequestLine RequestMix::one_byte_too_long() {
    RequestLine line = longest();
    line.bytes.insert(line.bytes.size() - 3, "p");
    line.id_key.reset();
    line.command.clear();
    line.forwarded.clear();
    line.refusal = kOversized;
    return line;
}

RequestLine RequestMix::cut_short() {
    RequestLine whole = request("status");
    recent_.pop_back();
    // Within the object, and not inside a character: the cut text is never
    // JSON, and it is UTF-8.
    std::size_t cut = 1 + pick(whole.bytes.rfind('}'));
    while ((static_cast<unsigned char>(whole.bytes[cut]) & 0xC0) == 0x80) --cut;
    RequestLine line;
    line.bytes = whole.bytes.substr(0, cut);
    line.refusal = kMalformed;
    return line;
}

std::vector<RequestLine> RequestMix::lines(std::size_t count, const RequestWeights& weights) {
    std::vector<RequestLine> lines;
    lines.reserve(count);
    while (lines.size() < count) {
        const int roll = static_cast<int>(pick(100));
        if (roll < weights.duplicate) {
            lines.push_back(duplicate());
        } else if (roll < weights.duplicate + weights.malformed) {
            switch (pick(40)) {
                case 0: lines.push_back(one_byte_too_long()); break;
                case 1: lines.push_back(longest()); break;
                default: lines.push_back(malformed()); break;
            }
        } else if (roll < weights.duplicate + weights.malformed + weights.refused) {
            lines.push_back(refused());
        } else {
            lines.push_back(request(kCommands[pick(std::size(kCommands))]));
        }
    }
    return lines;
}

// ---- one run ----

namespace {

// The lines as the front end writes them: large pieces, as fast as the pipe takes them.
std::vector<std::string> chunks_of(const FaultScenario& scenario) {
    std::vector<std::string> chunks(1);
    for (std::size_t i = 0; i < scenario.lines.size(); ++i) {
        if (chunks.back().size() >= 65536) chunks.emplace_back();
        chunks.back() += scenario.lines[i].bytes;
        if (i + 1 < scenario.lines.size() || !scenario.last_line_unterminated) chunks.back() += '\n';
    }
    return chunks;
}

bool wait_for_ready(TestProcess& runtime) {
    const Clock::time_point deadline = Clock::now() + kPromptWait;
    while (Clock::now() < deadline) {
        const std::optional<std::string> line = runtime.next_line(1s);
        if (line && *line == R"({"type":"ready"})") return true;
    }
    return false;
}

struct Record {
    std::string line;
    json::Value value;
    const json::Object& object() const { return value.as_object(); }
    const json::Value* member(std::string_view key) const { return object().find(key); }
    std::string type() const { return member("type")->as_string(); }
    std::string error() const {
        const json::Value* error = member("error");
        return error && error->is_string() ? error->as_string() : std::string();
    }
};

// Only canonical records: anything else is a violation and is left out.
std::vector<Record> records_of(const std::string& out, std::vector<std::string>& violations) {
    std::vector<Record> records;
    if (!out.empty() && out.back() != '\n') violations.push_back("stdout ends mid-line: " + shortened(out.substr(out.rfind('\n') + 1)));
    std::size_t begin = 0;
    for (std::size_t end = out.find('\n'); end != std::string::npos; begin = end + 1, end = out.find('\n', begin)) {
        const std::string line = out.substr(begin, end - begin);
        base::Result<json::Value> parsed = json::parse_json(line);
        if (!parsed.ok() || !parsed.value().is_object() || !parsed.value().as_object().find("type") ||
            !parsed.value().as_object().find("type")->is_string()) {
            violations.push_back("stdout line that is no record: " + shortened(line));
            continue;
        }
        if (json::to_compact_text(parsed.value()) != line) {
            violations.push_back("stdout record not in canonical form: " + shortened(line));
        }
        records.push_back(Record{line, std::move(parsed).value()});
    }
    return records;
}

bool refusal_matches(std::string_view expected, std::string_view error) {
    if (expected == kMalformed) return error.substr(0, kMalformed.size()) == kMalformed;
    return expected == error;
}

struct Answers {
    std::deque<const Record*> null_id;                            // in the order written
    std::map<std::string, std::deque<const Record*>> by_key;      // by the compact text of the id
};

void check_answer_to_request(const RequestLine& line, std::size_t index, const Record& answer,
                             const std::map<std::string, std::set<std::string>>& commands_by_key,
                             const std::optional<std::string>& fatal_message, std::vector<std::string>& violations) {
    const json::Value* ok = answer.member("ok");
    const json::Value* result = answer.member("result");
    if (ok && ok->kind() == json::Kind::Bool && ok->as_bool() && result && result->is_object()) {
        const json::Value* command = result->as_object().find("command");
        const std::set<std::string>& sent = commands_by_key.at(*line.id_key);
        if (command && command->is_string() && sent.count(command->as_string()) != 0) return;
        const json::Value* shutdown = result->as_object().find("shutdown");
        if (shutdown && sent.count("shutdown") != 0) return;
    }
    const std::string error = answer.error();
    if (kRuntimeRefusals.count(error) != 0) return;
    if (fatal_message && error == *fatal_message) return;
    if (!fatal_message && error.rfind("Python backend exited", 0) == 0) return;
    violations.push_back("line " + std::to_string(index) + " (" + shortened(line.bytes) + ") got " + shortened(answer.line));
}

// What the test backend answers: ok true. The runtime's own answers to a
// request line are errors, but for the shutdown response of the exit path.
bool is_backend_answer(const Record& record) {
    const json::Value* ok = record.member("ok");
    const json::Value* result = record.member("result");
    const bool shutdown_response =
        result != nullptr && result->is_object() && result->as_object().find("shutdown") != nullptr;
    return ok != nullptr && ok->kind() == json::Kind::Bool && ok->as_bool() && !shutdown_response;
}

// Drops the second of each pair of equal backend answers to one id, however
// the runtime's own answers to that id fall between them.
void drop_backend_repeats(std::deque<const Record*>& queue) {
    std::deque<const Record*> kept;
    const Record* unpaired = nullptr;
    for (const Record* record : queue) {
        if (!is_backend_answer(*record)) {
            kept.push_back(record);
            continue;
        }
        if (unpaired != nullptr && unpaired->line == record->line) {
            unpaired = nullptr;
            continue;
        }
        unpaired = record;
        kept.push_back(record);
    }
    queue = std::move(kept);
}

void check_answers(const FaultScenario& scenario, std::size_t written, const std::vector<Record>& records,
                   const std::optional<std::string>& fatal_message, std::vector<std::string>& violations) {
    Answers answers;
    for (const Record& record : records) {
        if (record.type() != "response") continue;
        const json::Value* id = record.member("id");
        if (id == nullptr) {
            violations.push_back("a response without an id: " + shortened(record.line));
        } else if (id->is_null()) {
            answers.null_id.push_back(&record);
        } else {
            answers.by_key[json::to_compact_text(*id)].push_back(&record);
        }
    }
    // A backend that answers twice writes each answer twice in a row: the
    // second copy is its own, relayed as it is, and answers nothing more.
    if (scenario.script.find("answer-twice") != std::string::npos) {
        for (auto& [key, queue] : answers.by_key) drop_backend_repeats(queue);
    }
    std::map<std::string, std::set<std::string>> commands_by_key;
    for (std::size_t i = 0; i < written; ++i) {
        const RequestLine& line = scenario.lines[i];
        if (line.id_key && line.refusal.empty()) commands_by_key[*line.id_key].insert(line.command);
    }
    std::optional<std::size_t> first_unanswered;
    std::size_t unanswered = 0;
    std::set<std::string> answered_keys;
    for (std::size_t i = 0; i < written; ++i) {
        const RequestLine& line = scenario.lines[i];
        std::deque<const Record*>& queue = line.id_key ? answers.by_key[*line.id_key] : answers.null_id;
        if (queue.empty()) {
            if (!first_unanswered) first_unanswered = i;
            ++unanswered;
            continue;
        }
        const Record& answer = *queue.front();
        queue.pop_front();
        if (line.id_key) answered_keys.insert(*line.id_key);
        if (first_unanswered) {
            violations.push_back("line " + std::to_string(i) + " was answered though line " +
                                 std::to_string(*first_unanswered) + " before it was not");
        }
        if (!line.refusal.empty()) {
            if (!refusal_matches(line.refusal, answer.error())) {
                violations.push_back("line " + std::to_string(i) + " (" + shortened(line.bytes) + ") refused as " +
                                     shortened(answer.line) + ", not with " + line.refusal);
            }
        } else {
            check_answer_to_request(line, i, answer, commands_by_key, fatal_message, violations);
        }
    }
    if (first_unanswered && !scenario.may_end_early) {
        violations.push_back(std::to_string(unanswered) + " lines never answered, the first line " +
                             std::to_string(*first_unanswered) + ": " + shortened(scenario.lines[*first_unanswered].bytes));
    }
    for (const Record* extra : answers.null_id) violations.push_back("an answer to no line: " + shortened(extra->line));
    // Every record of the backend's reaches the front end, its answers to ids
    // never asked too; those are the backend's own, never the runtime's.
    const bool backend_answers_unasked = scenario.script.find("answer-unasked") != std::string::npos;
    for (const auto& [key, queue] : answers.by_key) {
        if (key == kRuntimeShutdownKey) continue;  // the runtime's own request, answered by the backend
        const bool asked = commands_by_key.count(key) != 0 || answered_keys.count(key) != 0;
        for (const Record* extra : queue) {
            if (backend_answers_unasked && !asked && is_backend_answer(*extra)) continue;
            violations.push_back("an answer to no line: " + shortened(extra->line));
        }
    }
}

// The exit path answers what is pending in ascending order of the ids' text,
// right before the fatal record.
void check_exit_path_order(const std::vector<Record>& records, const std::string& fatal_message,
                           std::vector<std::string>& violations) {
    std::size_t first = records.size() - 1;
    while (first > 0 && records[first - 1].type() == "response" && records[first - 1].error() == fatal_message) --first;
    for (std::size_t i = 0; i < first; ++i) {
        if (records[i].type() == "response" && records[i].error() == fatal_message) {
            violations.push_back("an answer with the exit message before the end: " + shortened(records[i].line));
        }
    }
    for (std::size_t i = first + 1; i + 1 < records.size(); ++i) {
        const std::string before = json::to_compact_text(*records[i - 1].member("id"));
        const std::string after = json::to_compact_text(*records[i].member("id"));
        if (!(before < after)) violations.push_back("pending requests answered out of order: " + before + " before " + after);
    }
}

void check_output(const FaultScenario& scenario, std::size_t written, FaultRun& run) {
    std::vector<Record> records = records_of(run.out, run.violations);
    std::vector<std::size_t> fatal;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].type() == "fatal") fatal.push_back(i);
    }
    std::optional<std::string> fatal_message;
    if (run.exit_status == 1) {
        if (fatal.size() != 1 || fatal[0] + 1 != records.size()) {
            run.violations.push_back("exit status 1 without exactly one fatal record, last (" +
                                     std::to_string(fatal.size()) + " fatal records)");
        } else {
            fatal_message = records.back().error();
            if (scenario.exit_message && *fatal_message != *scenario.exit_message) {
                run.violations.push_back("fatal record says \"" + *fatal_message + "\", not \"" + *scenario.exit_message + "\"");
            }
            check_exit_path_order(records, *fatal_message, run.violations);
        }
    } else if (!fatal.empty()) {
        run.violations.push_back("a fatal record with exit status " + std::to_string(run.exit_status));
    }
    check_answers(scenario, written, records, fatal_message, run.violations);
}

// In order, each a request the front end sent and the runtime accepted, then at
// most one runtime shutdown record.
void check_backend_input(const FaultScenario& scenario, std::size_t written, FaultRun& run) {
    std::size_t next = 0;
    bool shutdown_seen = false;
    for (const std::string& received : run.received) {
        if (shutdown_seen) {
            run.violations.push_back("the backend read a line after the runtime's shutdown record: " + shortened(received));
            continue;
        }
        if (received == kRuntimeShutdown) {
            shutdown_seen = true;
            continue;
        }
        while (next < written && scenario.lines[next].forwarded != received) ++next;
        if (next == written) {
            run.violations.push_back("the backend read a line that is no request of the front end, or out of order: " +
                                     shortened(received));
            next = 0;
            continue;
        }
        ++next;
    }
}

// What is left of the backend's tree once the runtime has gone.
void check_leftovers(const TempProject& project, FaultRun& run) {
    const std::vector<std::string> group_file = project.lines_of("backend.group");
    unsigned long pid = 0;
    unsigned long group = 0;
    if (group_file.empty() || !(std::istringstream(group_file[0]) >> pid >> group)) {
        run.violations.push_back("the backend never wrote backend.group");
        return;
    }
    const Clock::time_point deadline = Clock::now() + 10s;
#ifdef _WIN32
    // No process groups: the backend itself. Its descendants outlive it there
    // (see the report of the fault tests); they are ended for the next test.
    while (!process_is_gone(pid) && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    if (!process_is_gone(pid)) run.violations.push_back("the backend outlived the runtime");
    kill_process(pid);
    for (const std::string& grandchild : project.lines_of("grandchild.pid")) kill_process(std::stoul(grandchild));
#else
    if (group != pid) run.violations.push_back("the backend does not lead a process group of its own");
    std::vector<unsigned long> left = live_group_members(group);
    while (!left.empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        left = live_group_members(group);
    }
    if (!left.empty()) {
        std::string pids;
        for (const unsigned long member : left) pids += " " + std::to_string(member);
        run.violations.push_back("processes of the backend's group outlived the runtime:" + pids);
        kill_process_group(group);
    }
#endif
}

FaultRun run_scenario_once(const FaultScenario& scenario) {
    TempProject project(scenario.project_name);
    project.script("group-file backend.group\n" + scenario.script);
    StartOptions options;
    options.read_stdout = scenario.read_stdout;
    options.hold_stdout = scenario.hold_stdout > 0ms;
    // A hang ends the run (a blocked writer below with it) within the bound.
    options.run_bound = scenario.within;
    FaultRun run;
    // One broken promise is enough: later scenarios of the same test would
    // only wait out their bounds for the same fault.
    if (::testing::Test::HasFailure()) {
        run.violations.push_back("not run: an earlier run of this test failed");
        return run;
    }
    const std::vector<std::string> chunks = chunks_of(scenario);
    std::size_t written = 0;  // lines the runtime may have read
    {
        TestProcess runtime(runtime_binary(), project.runtime_arguments(), options);
        if (scenario.await_ready && !wait_for_ready(runtime)) run.violations.push_back("the backend never got ready");
        bool input_failed = false;
        std::thread writer([&] {
            std::size_t lines = 0;
            for (const std::string& chunk : chunks) {
                lines += static_cast<std::size_t>(std::count(chunk.begin(), chunk.end(), '\n'));
                if (!runtime.write(chunk)) {
                    input_failed = true;
                    written = std::min(lines + 1, scenario.lines.size());
                    return;
                }
            }
            written = scenario.lines.size();
        });
        if (options.hold_stdout) {
            // The front end's pause itself, not a wait for something.
            std::this_thread::sleep_for(scenario.hold_stdout);
            runtime.resume_stdout();
        }
        writer.join();
        if (input_failed && !scenario.may_end_early) run.violations.push_back("the runtime stopped reading its input");
        if (scenario.input_end == InputEnd::Close) runtime.close_stdin();
        run.exit_status = runtime.wait_for_exit();
        runtime.close_stdin();
        if (runtime.overran()) {
            run.violations.push_back("the runtime was still running " + std::to_string(scenario.within.count()) +
                                     " s after its start and was killed");
        }
        run.out = runtime.stdout_text();
        run.err = runtime.stderr_text();
    }
    run.received = project.lines_of("received.log");
    for (const std::string& name : scenario.files) {
        std::ifstream file(project.path() / name, std::ios::binary);
        run.files[name].assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    switch (scenario.stop) {
        case Stop::Clean:
            if (run.exit_status != 0) run.violations.push_back("exit status " + std::to_string(run.exit_status) + " after a clean stop");
            break;
        case Stop::Unclean:
            if (run.exit_status != 1) run.violations.push_back("exit status " + std::to_string(run.exit_status) + " after an unclean stop");
            break;
        case Stop::Either:
            if (run.exit_status != 0 && run.exit_status != 1) run.violations.push_back("exit status " + std::to_string(run.exit_status));
            break;
    }
    if (scenario.read_stdout) {
        check_output(scenario, written, run);
    } else if (!run.out.empty()) {
        run.violations.push_back("stdout was read though the front end had closed it");
    }
    check_backend_input(scenario, written, run);
    for (const char* report : {"Sanitizer", "runtime error:"}) {
        const std::size_t at = run.err.find(report);
        if (at != std::string::npos) run.violations.push_back("sanitizer report: " + shortened(run.err.substr(at > 200 ? at - 200 : 0)));
    }
    check_leftovers(project, run);
    return run;
}

#ifdef _WIN32
// Wine now and then cannot start a process at all: the new process dies while
// Wine sets it up, and CreateProcessW fails with ERROR_INTERNAL_ERROR (one
// start in about two thousand here). The runtime reports it as it
// must, with its one fatal record; that says nothing about the runtime.
bool system_could_not_start_backend(const FaultRun& run) {
    const std::string message = "Failed to start project Python: " + platform::os_error_text(ERROR_INTERNAL_ERROR);
    return run.out == json::to_compact_text(protocol::fatal_record(message)) + "\n";
}
#endif

}  // namespace

FaultRun run_fault_scenario(const FaultScenario& scenario) {
#ifdef _WIN32
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        FaultRun run = run_scenario_once(scenario);
        if (attempt == kAttempts || !system_could_not_start_backend(run)) return run;
        std::printf("the system could not start the backend (os error 1359); the scenario runs again\n");
        std::fflush(stdout);
    }
#else
    return run_scenario_once(scenario);
#endif
}

std::string describe(const FaultScenario& scenario, const FaultRun& run) {
    if (run.violations.empty()) return {};
    std::string text = scenario.description + " (exit status " + std::to_string(run.exit_status) + ", " +
                       std::to_string(scenario.lines.size()) + " lines)\n";
    constexpr std::size_t kShown = 20;
    for (std::size_t i = 0; i < run.violations.size() && i < kShown; ++i) text += "  " + run.violations[i] + "\n";
    if (run.violations.size() > kShown) text += "  ... " + std::to_string(run.violations.size() - kShown) + " more\n";
    // The runtime's last words usually name the cause.
    const auto tail = [](const std::string& stream) {
        constexpr std::size_t kTail = 600;
        return stream.size() > kTail ? "..." + stream.substr(stream.size() - kTail) : stream;
    };
    if (!run.out.empty()) text += "  stdout ends: " + tail(run.out) + "\n";
    if (!run.err.empty()) text += "  stderr ends: " + tail(run.err) + "\n";
    return text;
}

}  // namespace quern::testing
