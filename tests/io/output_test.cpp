#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/output.hpp"
#include "json/write.hpp"

namespace quern::io {
namespace {

// A record shaped like the runtime's fatal record, made here so that the writer
// is tested on its own.
json::Value fatal_record(std::string_view message) {
    json::Object record;
    record.set("error", message);
    record.set("type", "fatal");
    return record;
}

// Records every call the writer makes, and fails when told to.
struct RecordingSink {
    std::vector<std::string> writes;
    bool fail = false;

    RecordWriter::Sink sink() {
        return [this](std::string_view bytes) {
            writes.emplace_back(bytes);
            return !fail;
        };
    }
};

TEST(RecordWriter, EachRecordIsOneLineHandedOverInOnePiece) {
    RecordingSink sink;
    RecordWriter writer(sink.sink());
    EXPECT_TRUE(writer.write(fatal_record("line\nfeed\r")));
    EXPECT_TRUE(writer.write(json::Object()));
    ASSERT_EQ(sink.writes.size(), 2u);
    EXPECT_EQ(sink.writes[0], "{\"error\":\"line\\nfeed\\r\",\"type\":\"fatal\"}\n");
    EXPECT_EQ(sink.writes[1], "{}\n");
}

TEST(RecordWriter, AFailedWriteIsReportedAndLaterRecordsAreStillTried) {
    RecordingSink sink;
    RecordWriter writer(sink.sink());
    sink.fail = true;
    EXPECT_FALSE(writer.write(fatal_record("lost")));
    sink.fail = false;
    EXPECT_TRUE(writer.write(fatal_record("next")));
    EXPECT_EQ(sink.writes.size(), 2u);
    EXPECT_EQ(sink.writes[1], "{\"error\":\"next\",\"type\":\"fatal\"}\n");
}

TEST(RecordWriter, AppendedRecordsGoOutTogetherInOneWriteWhenFlushed) {
    RecordingSink sink;
    RecordWriter writer(sink.sink());
    EXPECT_TRUE(writer.append(fatal_record("one")));
    EXPECT_TRUE(writer.append(json::Object()));
    EXPECT_TRUE(sink.writes.empty());
    EXPECT_TRUE(writer.flush());
    EXPECT_EQ(sink.writes, (std::vector<std::string>{"{\"error\":\"one\",\"type\":\"fatal\"}\n{}\n"}));
    EXPECT_TRUE(writer.flush());  // nothing pending: no write at all
    EXPECT_EQ(sink.writes.size(), 1u);
}

TEST(RecordWriter, PendingBytesGoOutOnceTheyPassTheFlushSizeAndAFailureIsReported) {
    RecordingSink sink;
    RecordWriter writer(sink.sink());
    const json::Value record = fatal_record(std::string(1000, 'r'));
    int appended = 0;
    while (sink.writes.empty()) {
        ASSERT_TRUE(writer.append(record));
        ++appended;
    }
    EXPECT_GE(sink.writes[0].size(), RecordWriter::kFlushBytes);
    EXPECT_EQ(static_cast<std::size_t>(appended) * (json::to_compact_text(record).size() + 1), sink.writes[0].size());
    sink.fail = true;
    EXPECT_TRUE(writer.append(record));
    EXPECT_FALSE(writer.flush());
}

TEST(RecordWriter, AHugeRecordIsWrittenWhole) {
    RecordingSink sink;
    RecordWriter writer(sink.sink());
    std::string big(3 << 20, 'x');
    EXPECT_TRUE(writer.write(fatal_record(big)));
    EXPECT_TRUE(writer.write(fatal_record("small")));
    EXPECT_EQ(sink.writes[0].size(), big.size() + std::string(R"({"error":"","type":"fatal"})").size() + 1);
    EXPECT_EQ(sink.writes[1], "{\"error\":\"small\",\"type\":\"fatal\"}\n");
}

}  // namespace
}  // namespace quern::io
