#include "output/record_writer.hpp"

#include "json/write.hpp"
#include "platform/std_streams.hpp"

namespace quern::output {

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

}  // namespace quern::output
