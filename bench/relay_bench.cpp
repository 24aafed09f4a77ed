// Throughput of the paths every record and request takes: parse, canonical
// rewrite, envelope validation and line cutting. Run: make bench
#include <benchmark/benchmark.h>

#include <string>

#include "io/line_reader.hpp"
#include "json/parse.hpp"
#include "json/rewrite.hpp"
#include "json/write.hpp"
#include "protocol/request.hpp"

namespace {

using namespace quern;

const std::string kProgressRecord =
    R"({"type":"progress","id":42,"step":17,"total":100,"eta_s":12.5,"message":"tokenizing shard 17 of 100"})";

std::string big_record() {
    std::string text = R"({"type":"event","rows":[)";
    for (int i = 0; i < 20000; ++i) {
        if (i) text += ',';
        text += R"({"n":)" + std::to_string(i) + R"(,"v":0.125,"s":"row text \u00e9"})";
    }
    return text + "]}";
}

void ParseAndRewriteSmallRecord(benchmark::State& state) {
    std::string out;
    for (auto _ : state) {
        out.clear();
        json::append_compact(json::parse_json(kProgressRecord).value(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kProgressRecord.size()));
}
BENCHMARK(ParseAndRewriteSmallRecord);

void ParseAndRewriteLargeRecord(benchmark::State& state) {
    const std::string record = big_record();
    std::string out;
    for (auto _ : state) {
        out.clear();
        json::append_compact(json::parse_json(record).value(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * record.size()));
}
BENCHMARK(ParseAndRewriteLargeRecord);

// The relay's own path for a record: its text rewritten straight into the
// compact text, no value built.
void RewriteRecord(benchmark::State& state, const std::string& record) {
    json::CompactRewriter rewriter;
    std::string out;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(rewriter.rewrite(record, out));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * record.size()));
}

void RewriteSmallRecord(benchmark::State& state) { RewriteRecord(state, kProgressRecord); }
BENCHMARK(RewriteSmallRecord);

void RewriteLargeRecord(benchmark::State& state) { RewriteRecord(state, big_record()); }
BENCHMARK(RewriteLargeRecord);

const std::string kRequestLine =
    R"({"id":"req-7","command":"account_memory_consolidation_apply","payload":{"ids":[1,2,3]},"session":"0123456789abcdef"})";

// The exact path alone: parse and check.
void ValidateRequest(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(protocol::validate_request_line(kRequestLine));
}
BENCHMARK(ValidateRequest);

// What the loop does with a request line: checked and made into the text
// the backend gets, with its key.
void IntakeRequest(benchmark::State& state) {
    protocol::RequestIntake intake;
    for (auto _ : state) benchmark::DoNotOptimize(intake.check(kRequestLine));
}
BENCHMARK(IntakeRequest);

// The same by the exact path, as the loop did it before the intake.
void ValidateAndForwardRequest(benchmark::State& state) {
    for (auto _ : state) {
        auto outcome = protocol::validate_request_line(kRequestLine);
        auto& envelope = std::get<protocol::RequestEnvelope>(outcome);
        benchmark::DoNotOptimize(protocol::request_key(envelope.id));
        benchmark::DoNotOptimize(protocol::forwarded_request(std::move(envelope)));
    }
}
BENCHMARK(ValidateAndForwardRequest);

// Serves the same text again and again, as a pipe full of lines would.
class RepeatingSource : public io::ByteSource {
public:
    explicit RepeatingSource(std::string text) : text_(std::move(text)) {}
    platform::ReadOutcome read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, text_.size() - at_);
        text_.copy(buffer, n, at_);
        at_ = (at_ + n) % text_.size();
        return {platform::ReadOutcome::Kind::Data, n, 0};
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

void CutLines(benchmark::State& state) {
    RepeatingSource source(kProgressRecord + "\n");
    io::BufferedReader reader(source);
    for (auto _ : state) benchmark::DoNotOptimize(io::read_bounded_line(reader, 1u << 20));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (kProgressRecord.size() + 1)));
}
BENCHMARK(CutLines);

void SkipOversizedLine(benchmark::State& state) {
    RepeatingSource source(std::string(8u << 20, 'x') + "\n");
    io::BufferedReader reader(source);
    for (auto _ : state) benchmark::DoNotOptimize(io::read_bounded_line(reader, 1u << 20));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ((8u << 20) + 1)));
}
BENCHMARK(SkipOversizedLine);

}  // namespace

BENCHMARK_MAIN();
