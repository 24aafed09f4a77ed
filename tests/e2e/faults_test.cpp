// Faults injected at both ends of the runtime, one scenario each, every one
// held to the same check (fault_session.hpp): one answer per request line, the
// right exit status, records only, and nothing of the backend left.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fault_session.hpp"
#include "support/recording.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

std::vector<RequestLine> requests(RequestMix& mix, std::size_t count) {
    std::vector<RequestLine> lines;
    for (std::size_t i = 0; i < count; ++i) lines.push_back(mix.request("status"));
    return lines;
}

std::string exited(const std::string& code) { return "Python backend exited (exit code: " + code + ")"; }

int count_lines(const std::string& text, const std::string& line) {
    int found = 0;
    for (std::size_t at = text.find(line + "\n"); at != std::string::npos; at = text.find(line + "\n", at + 1)) {
        found += at == 0 || text[at - 1] == '\n' ? 1 : 0;
    }
    return found;
}

std::string last_component(const std::string& path) {
#ifdef _WIN32
    return path.substr(path.find_last_of("\\/") + 1);
#else
    return path.substr(path.rfind('/') + 1);
#endif
}

#define EXPECT_KEPT_EVERY_PROMISE(scenario, run) EXPECT_TRUE((run).violations.empty()) << describe(scenario, run)

// ---- the backend misbehaves ----

TEST(BackendFaults, ACrashMidRecordWithRequestsPendingAnswersEachOnceWithItsExitCode) {
    std::vector<std::pair<std::string, std::string>> codes = {{"0", "0"}, {"3", "3"}, {"255", "255"}};
#ifdef _WIN32
    // Crash codes of Windows have the top bit set.
    codes.emplace_back("3221225477", "0xc0000005");
    codes.emplace_back("3221226505", "0xc0000409");
#endif
    for (const auto& [code, shown] : codes) {
        RequestMix mix(1);
        FaultScenario scenario;
        scenario.description = "the backend reads 40 requests, writes half a record and exits " + code;
        scenario.script = "read 40\nstdout-partial {\"type\":\"response\",\"id\":1,\"ok\":tr\nexit " + code + "\n";
        scenario.lines = requests(mix, 40);
        scenario.input_end = InputEnd::LeaveOpen;
        scenario.stop = Stop::Unclean;
        scenario.exit_message = exited(shown);
        const FaultRun run = run_fault_scenario(scenario);
        EXPECT_KEPT_EVERY_PROMISE(scenario, run);
        EXPECT_EQ(count_lines(run.err, "[quern-runtime] Ignored non-protocol backend stdout"), 1) << run.err;
    }
}

TEST(BackendFaults, ACrashWhileAskedToStopIsStillACleanStop) {
    RequestMix mix(2);
    FaultScenario scenario;
    scenario.description = "the backend holds every answer back, then crashes mid-record when asked to stop";
    scenario.script = "answer-late 1000000\nleave-at-shutdown\nserve\nstdout-partial {\"type\":\"resp\nexit 3\n";
    scenario.lines = mix.lines(300);
    scenario.stop = Stop::Clean;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    EXPECT_NE(run.out.find(exited("3")), std::string::npos);
}

TEST(BackendFaults, FloodsOfInvalidNonProtocolAndOversizedLinesReachNeitherEnd) {
    RequestMix mix(3);
    FaultScenario scenario;
    scenario.description = "the backend floods stdout with lines that are no records, and writes one before each answer";
    scenario.script = "flood 3000 11\nnoisy 5\nserve\n";
    scenario.lines = mix.lines(500);
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    // The longest record a backend may write passes whole; one byte more does not.
    EXPECT_NE(run.out.find("\"pad\":\"ppp"), std::string::npos);
    EXPECT_GE(count_lines(run.err, "[quern-runtime] Ignored invalid backend stdout record"), 2);
    EXPECT_GE(count_lines(run.err, "[quern-runtime] Ignored non-protocol backend stdout"), 500);
}

TEST(BackendFaults, ABackendThatClosesItsInputEarlyEndsTheRunUnclean) {
    RequestMix mix(4);
    FaultScenario scenario;
    scenario.description = "the backend closes its stdin, then lives on for a while without reading";
    scenario.script = "close-stdin\nstdout {\"type\":\"ready\"}\nsleep 1500\nexit 0\n";
    scenario.await_ready = true;
    scenario.lines = mix.lines(200);
    scenario.input_end = InputEnd::LeaveOpen;
    scenario.stop = Stop::Unclean;
    // Once its input has failed the runtime stops; the backend's own end may come first.
    scenario.may_end_early = true;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
#ifndef _WIN32
    // Which the runtime notices first, the failed write or the writer gone
    // since, is a race; either names the backend's input.
    const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
    EXPECT_TRUE(last == "{\"error\":\"Backend input failed: Broken pipe (os error 32)\",\"type\":\"fatal\"}\n" ||
                last == "{\"error\":\"Backend input writer stopped\",\"type\":\"fatal\"}\n")
        << last;
#endif
}

TEST(BackendFaults, ABackendThatNeverReadsGetsEveryRequestAnsweredOnce) {
    for (const InputEnd input_end : {InputEnd::LeaveOpen, InputEnd::Close}) {
        RequestMix mix(5);
        FaultScenario scenario;
        scenario.description = "the backend reads nothing and exits 0 after 2.5 s, the front end sends 60 64 KiB requests";
        scenario.script = "sleep 2500\nexit 0\n";
        for (int i = 0; i < 60; ++i) scenario.lines.push_back(mix.longest());
        scenario.input_end = input_end;
        // Whether the runtime saw the end of its input before the backend's exit is a race.
        scenario.stop = input_end == InputEnd::LeaveOpen ? Stop::Unclean : Stop::Either;
        scenario.may_end_early = true;
        const FaultRun run = run_fault_scenario(scenario);
        EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    }
}

TEST(BackendFaults, AnswersOutOfOrderTwiceOrToIdsNeverAskedReachTheFrontEndOncePerRequest) {
    const std::pair<const char*, const char*> backends[] = {
        {"answers in reverse order, seven at a time", "answer-late 7\nserve\n"},
        {"answers every request twice", "answer-twice\nserve\n"},
        {"answers ids never asked before every answer", "answer-unasked\nserve\n"},
        {"does all three", "answer-late 5\nanswer-twice\nanswer-unasked\nserve\n"},
    };
    for (const auto& [description, script] : backends) {
        RequestMix mix(6);
        FaultScenario scenario;
        scenario.description = std::string("the backend ") + description;
        scenario.script = script;
        scenario.lines = mix.lines(400);
        const FaultRun run = run_fault_scenario(scenario);
        EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    }
}

TEST(BackendFaults, GrandchildrenHoldingTheBackendsPipesDoNotOutliveTheRuntime) {
    {
        RequestMix mix(7);
        FaultScenario scenario;
        scenario.description = "two grandchildren hold the backend's stdout and stderr after it stopped when asked";
        scenario.script = "grandchild 30000\ngrandchild 30000\nserve\n";
        scenario.lines = mix.lines(100);
        const FaultRun run = run_fault_scenario(scenario);
        EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    }
    {
        RequestMix mix(8);
        FaultScenario scenario;
        scenario.description = "a grandchild holds the backend's pipes after it crashed with requests pending";
        scenario.script = "grandchild 30000\nread 20\nexit 3\n";
        scenario.lines = requests(mix, 20);
        scenario.input_end = InputEnd::LeaveOpen;
        scenario.stop = Stop::Unclean;
        scenario.exit_message = exited("3");
        const FaultRun run = run_fault_scenario(scenario);
        EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    }
}

// ---- the front end misbehaves ----

TEST(FrontEndFaults, ThousandsOfRequestsWithDuplicatesAndMalformedLinesThenTheEndOfInput) {
    RequestMix mix(9);
    FaultScenario scenario;
    scenario.description = "4000 lines as fast as the pipe takes them, a fifth of them duplicates or malformed";
    scenario.script = "serve\n";
    scenario.lines = mix.lines(4000, {.duplicate = 10, .malformed = 10, .refused = 5});
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
}

TEST(FrontEndFaults, ThousandsOfRequestsToAFrontEndThatClosedItsStdout) {
    RequestMix mix(10);
    FaultScenario scenario;
    scenario.description = "4000 lines from a front end that has closed its end of the runtime's stdout";
    scenario.script = "serve\n";
    scenario.lines = mix.lines(4000);
    scenario.read_stdout = false;
    // The first record that cannot be written begins the shutdown.
    scenario.may_end_early = true;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
}

TEST(FrontEndFaults, ThousandsOfRequestsFromAFrontEndThatStopsReadingForSeconds) {
    RequestMix mix(11);
    FaultScenario scenario;
    scenario.description = "4000 lines from a front end that reads nothing for 3 s";
    scenario.script = "serve\n";
    scenario.lines = mix.lines(4000);
    scenario.hold_stdout = 3s;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
}

TEST(FrontEndFaults, AnInputEndingMidLineIsOneMalformedRequest) {
    RequestMix mix(12);
    FaultScenario scenario;
    scenario.description = "the front end's last line is cut short by the end of its input";
    scenario.script = "serve\n";
    scenario.lines = mix.lines(200);
    scenario.lines.push_back(mix.cut_short());
    scenario.last_line_unterminated = true;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
}

TEST(FrontEndFaults, AShutdownRequestAmidAFloodOfRequests) {
    RequestMix mix(13);
    FaultScenario scenario;
    scenario.description = "a shutdown request in the middle of 3000 lines";
    scenario.script = "answer-late 3\nserve\n";
    scenario.lines = mix.lines(1500);
    scenario.lines.push_back(mix.request("shutdown"));
    for (RequestLine& line : mix.lines(1500)) scenario.lines.push_back(std::move(line));
    scenario.input_end = InputEnd::LeaveOpen;
    scenario.may_end_early = true;
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
}

// ---- containment ----

TEST(Containment, TheBackendReadsTheForwardedRequestsAndTheShutdownRecordAndNothingElse) {
    RequestMix mix(14);
    FaultScenario scenario;
    scenario.description = "requests with escapes that must not end a line, among refused and malformed lines";
    scenario.script = "serve\n";
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        RequestLine line = i % 3 == 0 ? mix.request("generate") : i % 3 == 1 ? mix.malformed() : mix.refused();
        if (!line.forwarded.empty()) expected.push_back(line.forwarded);
        scenario.lines.push_back(std::move(line));
    }
    expected.emplace_back(R"({"command":"shutdown","id":"__runtime_shutdown__","payload":{}})");
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    EXPECT_EQ(run.received, expected);
}

// A careless front end may start the runtime holding more than its three
// standard streams; none of it may reach the backend.
TEST(Containment, TheBackendHoldsItsThreeStandardStreamsAndNothingElse) {
    TempProject project;
    project.script("record-file backend.rec\nstray-handle-file stray.txt\nserve\n");
    std::vector<platform::OsString> arguments = {platform::os_string_from_utf8("exec-with-stray-handle"),
                                                 platform::os_string_from_utf8("--"), runtime_binary()};
    for (const platform::OsString& argument : project.runtime_arguments()) arguments.push_back(argument);
    TestProcess runtime(test_child(), arguments);
    runtime.send(R"({"id":1,"command":"status"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"ok":true,"result":{"command":"status"},"type":"response"})");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    // "none" would mean the stray descriptor's name never reached the backend.
    EXPECT_EQ(project.lines_of("stray.txt"), std::vector<std::string>{"closed"});
#ifndef _WIN32
    std::ifstream file(project.path() / "backend.rec", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(parse_recording(bytes).descriptors, (std::vector<std::string>{"0", "1", "2"}));
#endif
}

// Nothing on the way to the backend goes through a shell: a project directory
// named with a shell's special characters is taken literally.
TEST(Containment, AProjectPathFullOfShellSyntaxIsTakenLiterally) {
#ifdef _WIN32
    // Windows file names can hold neither double quotes nor | < > * ?.
    const std::string name = "it's a test & more; $HOME %PATH% ^ (x) !x! `id`";
#else
    const std::string name = "it's a \"test\" & more | cat; $HOME $(id) `id` * ? > < \\ #";
#endif
    RequestMix mix(15);
    FaultScenario scenario;
    scenario.description = "a session in the project \"" + name + "\"";
    scenario.script = "record-file backend.rec\nserve\n";
    scenario.lines = mix.lines(50);
    scenario.project_name = name;
    scenario.files = {"backend.rec"};
    const FaultRun run = run_fault_scenario(scenario);
    EXPECT_KEPT_EVERY_PROMISE(scenario, run);
    const Recording recording = parse_recording(run.files.at("backend.rec"));
    ASSERT_EQ(recording.arguments.size(), 6u);
    EXPECT_EQ(recording.arguments[4], "--project");
    for (const std::string& path : {recording.arguments[5], recording.working_directory}) {
        EXPECT_EQ(last_component(path).rfind(name + " ", 0), 0u) << path;
    }
}

}  // namespace
}  // namespace quern::testing
