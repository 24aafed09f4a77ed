#include <gtest/gtest.h>

#include <string>

#include "process_probe.hpp"
#include "support/test_process.hpp"
#include "temp_project.hpp"

namespace quern::testing {
namespace {

using namespace std::chrono_literals;

// How soon the backend's tree must be gone once the runtime is: about a
// second is the promise; the margin is for a loaded machine.
constexpr std::chrono::milliseconds kTreeGone = 2s;

constexpr const char* kReady = R"({"type":"ready"})";

struct ProcessTree : ::testing::Test {
    TempProject project;
    // Every process a test saw started, ended whatever the test found (before
    // the project directory, which a live process may hold on Windows, goes).
    std::vector<unsigned long> started;

    ~ProcessTree() override {
        for (const unsigned long pid : started) {
            kill_process(pid);
            (void)gone_within(pid, 10s);
        }
    }

    unsigned long pid_in(const std::string& file) {
        const std::optional<unsigned long> pid = project.await_pid(file);
        if (!pid) {
            ADD_FAILURE() << "no process id in " << file;
            return 0;
        }
        started.push_back(*pid);
        EXPECT_FALSE(process_is_gone(*pid)) << file;
        return *pid;
    }
};

// A crash of the runtime, or a task manager ending it, gives it no chance to
// stop anything: the backend and whatever it started go all the same, but for
// a child that left the backend's tree on purpose.
TEST_F(ProcessTree, KillingTheRuntimeEndsTheBackendAndItsChildButNotADetachedOne) {
    project.script("pid-file backend.pid\ngrandchild 60000\ndetached-child 60000\nstdout {\"type\":\"ready\"}\nserve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    ASSERT_EQ(runtime.next_line(), kReady);
    const unsigned long backend = pid_in("backend.pid");
    const unsigned long grandchild = pid_in("grandchild.pid");
    const unsigned long detached = pid_in("detached.pid");
    runtime.kill();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_TRUE(gone_within(backend, kTreeGone));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    EXPECT_TRUE(gone_within(grandchild, kTreeGone - waited));
    // Whatever ended the others has done so by now.
    EXPECT_FALSE(process_is_gone(detached));
    runtime.wait_for_exit();
}

// A backend may leave a child behind when it exits, even on a clean stop;
// the runtime takes it along when it leaves.
TEST_F(ProcessTree, AChildTheBackendLeftBehindEndsWithTheRuntimeButNotADetachedOne) {
    project.script("grandchild 60000\ndetached-child 60000\nserve\n");
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    const unsigned long grandchild = pid_in("grandchild.pid");
    const unsigned long detached = pid_in("detached.pid");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_EQ(runtime.lines(),
              (std::vector<std::string>{
                  R"({"id":"__runtime_shutdown__","ok":true,"result":{"command":"shutdown"},"type":"response"})"}));
    EXPECT_TRUE(gone_within(grandchild, kTreeGone));
    EXPECT_FALSE(process_is_gone(detached));
}

#ifdef _WIN32
// A runtime started inside a job that lets nothing break away, and in which
// Windows nests no other job, still starts its backend and serves; where it
// cannot give the backend a job of its own it says so on standard error.
TEST_F(ProcessTree, ARuntimeInAClosedJobStillServes) {
    project.script("serve\n");
    std::vector<platform::OsString> arguments = {L"job-without-breakaway", L"--", runtime_binary()};
    for (const platform::OsString& argument : project.runtime_arguments()) arguments.push_back(argument);
    TestProcess runtime(test_child(), arguments);
    runtime.send(R"({"id":1,"command":"status"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"ok":true,"result":{"command":"status"},"type":"response"})");
    runtime.close_stdin();
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    const std::string note =
        "[quern-runtime] Backend processes are not bound to the runtime and may outlive it: ";
    const std::string err = runtime.stderr_text();
    EXPECT_TRUE(err.empty() || (err.rfind(note, 0) == 0 && err.find('\n') == err.size() - 1)) << err;
}
#endif

}  // namespace
}  // namespace quern::testing
