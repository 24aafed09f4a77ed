#include "setup.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

void create_project(Setup& setup) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quern-e2e-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    // The runtime compares final paths; start from one.
    setup.work_dir = fs::canonical(pattern).string();
    const fs::path project = fs::path(setup.work_dir) / "project";
    fs::create_directories(project / ".venv" / "bin");
    fs::create_directories(project / "quern");
    fs::copy_file(setup.backend, project / ".venv" / "bin" / "python");
    fs::permissions(project / ".venv" / "bin" / "python", fs::perms::owner_all | fs::perms::group_read |
                                                             fs::perms::group_exec | fs::perms::others_read |
                                                             fs::perms::others_exec);
    std::ofstream(project / "quern" / "gui_backend.py") << "# never run: .venv/bin/python is a bench backend\n";
    setup.project = project.string();
}

void remove_work_dir(const Setup& setup) {
    std::error_code ignored;
    if (!setup.work_dir.empty()) fs::remove_all(setup.work_dir, ignored);
}

namespace {

struct FileCount {
    std::size_t bytes = 0;
    std::size_t lines = 0;
    bool ends_with_lf = false;
};

FileCount count_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + " (bench/run-e2e.sh makes it)");
    FileCount count;
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        const auto n = static_cast<std::size_t>(in.gcount());
        count.bytes += n;
        count.lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + n, '\n'));
        count.ends_with_lf = buffer[n - 1] == '\n';
    }
    return count;
}

}  // namespace

Shape load_shape(const std::string& data_dir, const std::string& name) {
    Shape shape;
    shape.name = name;
    shape.input_path = fs::canonical(data_dir + "/" + name + ".jsonl").string();
    shape.expected_path = fs::canonical(data_dir + "/" + name + ".canon.jsonl").string();
    const FileCount input = count_file(shape.input_path);
    const FileCount expected = count_file(shape.expected_path);
    if (input.lines != expected.lines || input.bytes == 0 || !input.ends_with_lf) {
        throw std::runtime_error(name + ": input and expected output do not match line for line");
    }
    shape.input_bytes = input.bytes;
    shape.expected_bytes = expected.bytes;
    shape.lines = input.lines;
    return shape;
}

std::vector<std::string> relay_command(const Setup& setup, bool through_runtime) {
    if (through_runtime) return {setup.runtime, "--project", setup.project};
    return {setup.passthrough, "--spawn", setup.backend};
}

}  // namespace e2e
