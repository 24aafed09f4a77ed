#include "support/run_program.hpp"

namespace quern::testing {

ProgramOutput run_runtime_binary(const std::vector<std::string>& arguments,
                                 const RunOptions& options) {
    std::vector<platform::OsString> os_arguments;
    for (const std::string& argument : arguments) {
        os_arguments.push_back(platform::os_string_from_utf8(argument));
    }
    return run_program(runtime_binary(), os_arguments, options);
}

}  // namespace quern::testing
