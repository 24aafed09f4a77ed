#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/test_process.hpp"

namespace quern::testing {
namespace {

namespace fs = std::filesystem;

// The bundled demo project (its backend and the backend library vendored
// beside it), copied next to a real CPython virtual environment.
class DemoProject {
public:
    DemoProject() : root_(fs::temp_directory_path() / ("quern-demo-" + std::to_string(std::random_device()()))) {
        fs::create_directories(root_);
        for (const char* package : {"quern", "quern_runtime_backend"}) {
            fs::copy(fs::path(QUERN_DEMO_PROJECT) / package, root_ / package, fs::copy_options::recursive);
        }
        ProgramOutput venv = run_program("/usr/bin/env", {"python3", "-m", "venv", "--without-pip", (root_ / ".venv").string()});
        EXPECT_EQ(venv.exit_code, 0) << venv.err;
    }
    ~DemoProject() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::vector<platform::OsString> runtime_arguments() const { return {"--project", root_.string()}; }

private:
    fs::path root_;
};

TEST(DemoBackend, ARealPythonBackendServesASession) {
    DemoProject project;
    TestProcess runtime(runtime_binary(), project.runtime_arguments());
    runtime.send(R"({"id":1,"command":"generate","payload":{"prompt":"tea","steps":2}})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"step":1,"total":2,"type":"progress"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"step":2,"total":2,"type":"progress"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":1,"ok":true,"result":{"text":"tea-1 tea-2"},"type":"response"})");
    runtime.send(R"({"id":"bye","command":"shutdown"})");
    EXPECT_EQ(runtime.next_line(), R"({"id":"bye","ok":true,"result":{"shutdown":true},"type":"response"})");
    EXPECT_EQ(runtime.wait_for_exit(), 0);
    EXPECT_TRUE(runtime.lines().empty());
    EXPECT_NE(runtime.stderr_text().find("[demo backend] shutting down\n"), std::string::npos);
}

}  // namespace
}  // namespace quern::testing
