#pragma once

#include <string_view>

namespace quern::output {

// Writes one line, the text and a line feed, to the runtime's standard error
// in one piece under the standard error lock, so a relayed line never
// interleaves with a note. A failed write is ignored: nothing the runtime does
// depends on its diagnostics being read.
void write_stderr_line(std::string_view text);

}  // namespace quern::output
