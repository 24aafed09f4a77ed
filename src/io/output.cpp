#include "io/output.hpp"

#include <mutex>
#include <string>

#include "json/write.hpp"
#include "platform/this_process.hpp"

namespace quern::io {

namespace {

// A rare huge record should not pin its buffer for the rest of the run.
constexpr std::size_t kKeptBufferCapacity = 1 << 20;

}  // namespace

bool RecordWriter::write(const json::Value& record) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    buffer_.clear();
    json::append_compact(record, buffer_);
    buffer_ += '\n';
    const bool written = sink_(buffer_);
    if (buffer_.capacity() > kKeptBufferCapacity) std::string().swap(buffer_);
    return written;
}

bool emit_record(const json::Value& record) {
    static RecordWriter stdout_writer(platform::write_stdout);
    return stdout_writer.write(record);
}

void write_stderr_line(std::string_view text) {
    static std::mutex stderr_lock;
    static std::string line;  // reused: relayed lines are written at the backend's pace
    std::lock_guard<std::mutex> lock(stderr_lock);
    line.assign(text);
    line += '\n';
    (void)platform::write_stderr(line);
    if (line.capacity() > kKeptBufferCapacity) std::string().swap(line);
}

}  // namespace quern::io
