#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "loop/timings.hpp"
#include "platform/path.hpp"
#include "project/backend_control.hpp"
#include "project/launch_backend.hpp"
#include "support/child_streams.hpp"
#include "support/scratch_directory.hpp"
#include "support/test_process.hpp"

namespace quern::project {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A project whose interpreter is the helper child program, following the
// project's script.txt as the backend.
class BackendTree : public ::testing::Test {
protected:
    testing::ScratchDirectory scratch;
    fs::path root = fs::canonical(scratch.path()) / "app";

    void SetUp() override {
        testing::write_file(root / "quern" / "gui_backend.py", "");
        fs::path interpreter = root / ".venv";
        for (const std::string_view name : platform::venv_interpreter().names) interpreter /= name;
        fs::create_directories(interpreter.parent_path());
        fs::copy_file(testing::test_child(), interpreter);
    }

    BackendProcess launch(const std::string& script) {
        testing::write_file(root / "script.txt", script);
        base::Result<ResolvedProject> project = resolve_project(root.native());
        EXPECT_TRUE(project.ok()) << project.error();
        if (!project.ok()) return {};
        base::Result<BackendProcess> backend = launch_backend(project.value());
        EXPECT_TRUE(backend.ok()) << backend.error();
        return backend.ok() ? std::move(backend).value() : BackendProcess{};
    }

    bool file_appears(const fs::path& file) {
        const auto deadline = std::chrono::steady_clock::now() + testing::kPromptWait;
        while (!fs::exists(file)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
};

TEST_F(BackendTree, TheBackendsTreeIsBoundToTheRuntime) {
    BackendProcess backend = launch("exit 0\n");
    EXPECT_TRUE(backend.process.tree_bound());
    EXPECT_EQ(backend.process.tree_binding_failure(), "");
    EXPECT_EQ(backend.process.wait_for_exit().exit_code, 0u);
}

// Where taskkill cannot end the tree (Wine's ignores /T), the bound tree ends
// all the same.
TEST_F(BackendTree, TerminatingTheTreeEndsTheBackendAndWhatItStarted) {
    BackendProcess backend = launch("grandchild 60000\nhang\n");
    ASSERT_TRUE(file_appears(root / "grandchild.pid"));
    platform::end_tree_by_force(backend.process, loop::kTreeEndingWaits);
    EXPECT_EQ(backend.process.poll_exit().state, platform::ExitPoll::State::Exited);
    // The grandchild shares the backend's stdout: its end means both are gone.
    EXPECT_TRUE(testing::pipe_ends_within(std::move(backend.stdout_pipe), testing::kPromptWait));
}

// A backend that exited on its own leaves its child to the runtime's exit.
TEST_F(BackendTree, TheLeftoversOfABackendThatExitedEndWithTheTree) {
    BackendProcess backend = launch("grandchild 60000\nexit 0\n");
    ASSERT_TRUE(file_appears(root / "grandchild.pid"));
    EXPECT_EQ(backend.process.wait_for_exit().exit_code, 0u);
    BackendControl control(backend.process, loop::kTreeEndingWaits);
    control.end_tree_leftovers();
    EXPECT_TRUE(testing::pipe_ends_within(std::move(backend.stdout_pipe), testing::kPromptWait));
}

}  // namespace
}  // namespace quern::project
