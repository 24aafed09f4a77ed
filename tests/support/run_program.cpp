#include "support/run_program.hpp"

namespace quern::testing {

platform::OsString program_beside_runtime(std::string_view name) {
    const platform::OsString runtime = runtime_binary();
    const std::size_t directory_end = runtime.find_last_of(platform::os_string_from_utf8("/\\")) + 1;
#ifdef _WIN32
    const std::string file = std::string(name) + ".exe";
#else
    const std::string file(name);
#endif
    return runtime.substr(0, directory_end) + platform::os_string_from_utf8(file);
}

ProgramOutput run_runtime_binary(const std::vector<std::string>& arguments,
                                 const RunOptions& options) {
    std::vector<platform::OsString> os_arguments;
    for (const std::string& argument : arguments) {
        os_arguments.push_back(platform::os_string_from_utf8(argument));
    }
    return run_program(runtime_binary(), os_arguments, options);
}

}  // namespace quern::testing
