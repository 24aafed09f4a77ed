#include "platform/this_process.hpp"

#include <string>

#include "base/exit_status.hpp"

namespace quern::platform {

void exit_internal_fault(std::string_view diagnostic) {
    std::string text = "quern-runtime: internal fault: ";
    text += diagnostic;
    text += '\n';
    (void)write_stderr(text);
    exit_process(base::kExitInternalFault);
}

}  // namespace quern::platform
