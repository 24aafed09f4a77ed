#include "output/stderr_writer.hpp"

#include <mutex>
#include <string>

#include "platform/std_streams.hpp"

namespace quern::output {

void write_stderr_line(std::string_view text) {
    static std::mutex stderr_lock;
    static std::string line;  // reused: relayed lines are written at the backend's pace
    std::lock_guard<std::mutex> lock(stderr_lock);
    line.assign(text);
    line += '\n';
    (void)platform::write_stderr(line);
    if (line.capacity() > (1u << 20)) std::string().swap(line);
}

}  // namespace quern::output
