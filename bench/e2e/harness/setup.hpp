#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace e2e {

// The programs under test and the throw-away project the runtime is given.
struct Setup {
    std::string runtime;
    std::string backend;  // also installed as the project's .venv/bin/python
    std::string passthrough;
    std::string rapidjson_relay;
    std::string simdjson_relay;
    std::string jq;
    std::string work_dir;  // project and logs live here, removed at the end
    std::string project;
};

// Makes work_dir and the project in it: DIR/.venv/bin/python (a copy of the
// backend, since the interpreter must resolve inside the project) and
// DIR/quern/gui_backend.py. Throws std::runtime_error on failure.
void create_project(Setup& setup);

// The command line of what sits between front end and backend: the runtime on
// the project, or the pass-through starting the backend itself.
std::vector<std::string> relay_command(const Setup& setup, bool through_runtime);
void remove_work_dir(const Setup& setup);

// One record file and the output the runtime must make of it. The harness
// never holds them in memory: wait4's ru_maxrss of a child starts from the
// peak of the process that spawned it, so the harness stays small.
struct Shape {
    std::string name;
    std::string input_path;
    std::string expected_path;
    std::size_t input_bytes = 0;
    std::size_t expected_bytes = 0;
    std::size_t lines = 0;
};

// Finds DIR/NAME.jsonl and DIR/NAME.canon.jsonl. Throws when either is missing
// or their line counts differ.
Shape load_shape(const std::string& data_dir, const std::string& name);

}  // namespace e2e
