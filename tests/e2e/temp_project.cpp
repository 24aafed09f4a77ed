#include "temp_project.hpp"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "support/test_process.hpp"

namespace quern::testing {

namespace fs = std::filesystem;

namespace {

fs::path unique_directory(const std::string& name) {
    std::random_device random;
    for (;;) {
        const std::string unique = std::to_string(random());
        fs::path candidate = fs::temp_directory_path() /
                             fs::path(platform::os_string_from_utf8(name.empty() ? "quern-e2e-" + unique : name + " " + unique));
        if (fs::create_directory(candidate)) return candidate;
    }
}

void install_interpreter(const fs::path& root) {
    const fs::path backend(test_child());
#ifdef _WIN32
    fs::create_directories(root / ".venv" / "Scripts");
    fs::copy_file(backend, root / ".venv" / "Scripts" / "python.exe");
#else
    // A real venv's python is a link to an interpreter elsewhere; so is this one.
    fs::create_directories(root / ".venv" / "bin");
    fs::create_symlink(backend, root / ".venv" / "bin" / "python");
#endif
}

}  // namespace

TempProject::TempProject(const std::string& name) : root_(unique_directory(name)) {
    install_interpreter(root_);
    fs::create_directories(root_ / "quern");
    std::ofstream(root_ / "quern" / "gui_backend.py") << "# stands in for the real backend\n";
}

TempProject::~TempProject() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void TempProject::script(const std::string& directives) const {
    std::ofstream(root_ / "script.txt", std::ios::binary) << directives;
}

std::vector<std::string> TempProject::lines_of(const std::string& name) const {
    std::ifstream file(root_ / name, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

namespace {

// Looks at the project's files every 20 ms, up to kPromptWait, until found says yes.
template <typename Found>
bool await_file(Found found) {
    const auto deadline = std::chrono::steady_clock::now() + kPromptWait;
    while (!found()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

std::optional<unsigned long> TempProject::await_pid(const std::string& name) const {
    std::optional<unsigned long> pid;
    (void)await_file([&] {
        std::ifstream file(root_ / name, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // A file still being written has no line feed yet.
        if (text.empty() || text.back() != '\n') return false;
        pid = std::stoul(text);
        return true;
    });
    return pid;
}

bool TempProject::await_line(const std::string& name, const std::string& line) const {
    return await_file([&] {
        const std::vector<std::string> lines = lines_of(name);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    });
}

std::vector<platform::OsString> TempProject::runtime_arguments() const {
    return {platform::os_string_from_utf8("--project"), platform::OsString(root_.native())};
}

}  // namespace quern::testing
