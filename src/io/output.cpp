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

bool RecordWriter::append(const json::Value& record) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    json::append_compact(record, buffer_);
    buffer_ += '\n';
    return buffer_.size() < kFlushBytes || flush_locked();
}

bool RecordWriter::append_text(std::string_view record_text) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    buffer_ += record_text;
    buffer_ += '\n';
    return buffer_.size() < kFlushBytes || flush_locked();
}

bool RecordWriter::flush() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return flush_locked();
}

bool RecordWriter::write(const json::Value& record) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const bool appended = append(record);
    return flush_locked() && appended;
}

bool RecordWriter::flush_locked() {
    if (buffer_.empty()) return true;
    const bool written = sink_(buffer_);
    buffer_.clear();
    if (buffer_.capacity() > kKeptBufferCapacity) std::string().swap(buffer_);
    return written;
}

namespace {

RecordWriter& stdout_writer() {
    static RecordWriter writer(platform::write_stdout);
    return writer;
}

}  // namespace

bool emit_record(const json::Value& record) { return stdout_writer().write(record); }

bool buffer_record_text(std::string_view record_text) { return stdout_writer().append_text(record_text); }

bool flush_records() { return stdout_writer().flush(); }

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
