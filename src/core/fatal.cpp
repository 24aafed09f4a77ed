#include "core/fatal.hpp"

#include <string>

#include "platform/std_streams.hpp"

namespace quern {

void fatal_internal(std::string_view diagnostic) {
    std::string text = "quern-runtime: internal fault: ";
    text += diagnostic;
    text += '\n';
    (void)platform::write_stderr(text);
    platform::exit_process(kInternalFaultExitCode);
}

}  // namespace quern
