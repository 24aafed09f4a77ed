// The backend's standard output: any bytes, cut by the bounded line reader at
// the backend line limit and handed, event by event, to the loop's own stdout
// relay, whose records go through the real record writer. Every other line is
// made into a record first, as the reader does for every other batch.
//
// For each line: a protocol record (a JSON object with a string "type") is
// written as exactly one line of canonical JSON that reads back as the value
// the backend sent, and a response settles the pending request of its id;
// anything else writes nothing and costs exactly one note.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "io/events.hpp"
#include "json/parse.hpp"
#include "json/write.hpp"
#include "loop/backend_output.hpp"
#include "loop_world.hpp"
#include "protocol/records.hpp"
#include "protocol/request.hpp"
#include "reference_utf8.hpp"
#include "same_value.hpp"

namespace quern::fuzz {
namespace {

// A pending request that no record of the backend's can settle: its key is the
// compact text of no JSON value at all. It shows that settling takes only the
// record's own id.
constexpr std::string_view kUnrelatedKey = R"("never answered")";

// What a protocol record is, written out here rather than taken from the code
// under test, so that a fault in the relay's own check cannot agree with itself.
bool is_record_by_definition(const json::Value& value) {
    if (!value.is_object()) return false;
    const json::Value* type = value.as_object().find("type");
    return type != nullptr && type->is_string();
}

void expect_note_only(LoopWorld& world, std::size_t writes_before, std::string_view note) {
    QUERN_FUZZ_CHECK(world.writes.size() == writes_before, world.writes.back());
    QUERN_FUZZ_CHECK(world.notes.size() == 1, std::to_string(world.notes.size()) + " notes for one line");
    QUERN_FUZZ_CHECK(world.notes.front() == note, world.notes.front());
}

void relay_line(LoopWorld& world, const io::LineResult& line, protocol::RecordRelay* reader_relay) {
    world.notes.clear();
    const std::size_t writes_before = world.writes.size();

    // What the relay is to make of the line, worked out before it sees it.
    std::optional<json::Value> record;
    std::string settled_key;
    if (line.kind == io::LineEventKind::Line) {
        base::Result<json::Value> parsed = json::parse_json(line.text);
        if (parsed.ok() && is_record_by_definition(parsed.value())) {
            record = std::move(parsed.value());
            // A pending request under the record's id, which only a response may settle.
            if (const json::Value* id = record->as_object().find("id")) {
                settled_key = protocol::request_key(*id);
                world.loop.state.pending.insert(settled_key, false);
            }
        }
    }

    if (reader_relay != nullptr && line.kind == io::LineEventKind::Line) {
        // Packed and unpacked as the reader hands it to the loop.
        io::RuntimeEvent event(io::EventSource::BackendStdout);
        event.add_shaped([&](std::string& out) { return reader_relay->relay(line.text, out); });
        event.for_each([](const io::StreamLine&) { QUERN_FUZZ_CHECK(false, "a shaped line came out as a plain one"); },
                       [&](const io::ShapedLine& shaped) { loop::handle_backend_record(world.loop, shaped); });
    } else {
        loop::handle_backend_stdout_event(world.loop, io::StreamLine{line.kind, line.text});
    }
    QUERN_FUZZ_CHECK(world.take_sent().empty(), "the stdout relay sent something to the backend");
    QUERN_FUZZ_CHECK(world.loop.state.frontend_output_healthy, "a write that succeeded marked the output unhealthy");
    QUERN_FUZZ_CHECK(!world.loop.state.shutting_down(), "a line began the shutdown");

    switch (line.kind) {
        case io::LineEventKind::Oversized:
        case io::LineEventKind::InvalidUtf8: return expect_note_only(world, writes_before, protocol::kInvalidRecordNote);
        case io::LineEventKind::Closed:
        case io::LineEventKind::Failed: QUERN_FUZZ_CHECK(false, "the reader ended inside the input");
        case io::LineEventKind::Line: break;
    }
    if (!record) return expect_note_only(world, writes_before, protocol::kNonProtocolNote);

    QUERN_FUZZ_CHECK(world.notes.empty(), world.notes.front());
    QUERN_FUZZ_CHECK(world.writes.size() == writes_before + 1,
                     std::to_string(world.writes.size() - writes_before) + " writes for one record");
    const std::string& written = world.writes.back();
    // Exactly one line: the text and its line feed, nothing else that ends a line.
    QUERN_FUZZ_CHECK(!written.empty() && written.back() == '\n', written);
    const std::string_view text = std::string_view(written).substr(0, written.size() - 1);
    QUERN_FUZZ_CHECK(text.find('\n') == std::string_view::npos && text.find('\r') == std::string_view::npos,
                     written);
    QUERN_FUZZ_CHECK(well_formed_utf8(text), written);
    base::Result<json::Value> reparsed = json::parse_json(text);
    QUERN_FUZZ_CHECK(reparsed.ok(), written + " / " + reparsed.error());
    QUERN_FUZZ_CHECK(same(reparsed.value(), *record), written);
    // Canonical: writing what was read back gives the same bytes.
    QUERN_FUZZ_CHECK(json::to_compact_text(reparsed.value()) == text, written);

    if (!settled_key.empty()) {
        const bool is_response = record->as_object().find("type")->as_string() == "response";
        QUERN_FUZZ_CHECK(world.loop.state.pending.contains(settled_key) != is_response, settled_key);
        world.loop.state.pending.remove(settled_key);
    }
    QUERN_FUZZ_CHECK(world.loop.state.pending.contains(std::string(kUnrelatedKey)), settled_key);
}

}  // namespace
}  // namespace quern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quern;
    fuzz::ChunkedSource source(fuzz::as_text(data, size));
    const std::vector<io::LineResult> lines = fuzz::read_all_lines(source, protocol::kBackendLineLimit);
    fuzz::LoopWorld world;
    world.loop.state.pending.insert(fuzz::kUnrelatedKey, false);
    protocol::RecordRelay reader_relay;
    bool by_reader = false;
    for (const io::LineResult& line : lines) {
        if (line.kind == io::LineEventKind::Closed) {
            loop::handle_backend_stdout_event(world.loop,
                                              io::StreamLine{line.kind, line.text});
            QUERN_FUZZ_CHECK(world.loop.state.backend_stdout_closed, "the end of stdout went unnoticed");
            break;
        }
        QUERN_FUZZ_CHECK(!world.loop.state.backend_stdout_closed, "closed before the end");
        fuzz::relay_line(world, line, by_reader ? &reader_relay : nullptr);
        by_reader = !by_reader;
    }
    return 0;
}
