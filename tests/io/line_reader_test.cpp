#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "io/line_reader.hpp"

namespace quern::io {
namespace {

using platform::ReadOutcome;

// Serves its text in reads of at most the buffer size, then end of stream or,
// when told, a read error.
class TextSource : public ByteSource {
public:
    explicit TextSource(std::string text, bool fail_at_end = false)
        : text_(std::move(text)), fail_at_end_(fail_at_end) {}

    ReadOutcome read(char* buffer, std::size_t capacity) override {
        ++reads;
        if (at_ == text_.size()) {
            if (fail_at_end_) return {ReadOutcome::Kind::Error, 0, 5};
            return {ReadOutcome::Kind::End, 0, 0};
        }
        const std::size_t n = std::min(capacity, text_.size() - at_);
        text_.copy(buffer, n, at_);
        at_ += n;
        return {ReadOutcome::Kind::Data, n, 0};
    }

    int reads = 0;

private:
    std::string text_;
    std::size_t at_ = 0;
    bool fail_at_end_;
};

// Every result of reading the whole text with the given limit, through Closed or Failed.
std::vector<LineResult> read_all(std::string text, std::size_t limit, bool fail_at_end = false) {
    TextSource source(std::move(text), fail_at_end);
    BufferedReader reader(source);
    std::vector<LineResult> results;
    for (;;) {
        results.push_back(read_bounded_line(reader, limit));
        const LineEventKind kind = results.back().kind;
        if (kind == LineEventKind::Closed || kind == LineEventKind::Failed) return results;
    }
}

std::vector<LineEventKind> kinds(const std::vector<LineResult>& results) {
    std::vector<LineEventKind> out;
    for (const auto& result : results) out.push_back(result.kind);
    return out;
}

using K = LineEventKind;

TEST(BoundedLineReader, TheLimitCountsTheLineFeed) {
    // The runtime's two limits: 64 KiB for requests, 1 MiB for the backend's lines.
    for (std::size_t limit : {std::size_t{65536}, std::size_t{1048576}}) {
        const std::string fits(limit - 1, 'x');
        const std::string too_long(limit, 'x');
        auto results = read_all(fits + "\n" + too_long + "\nnext\n", limit);
        EXPECT_EQ(kinds(results), (std::vector<K>{K::Line, K::Oversized, K::Line, K::Closed})) << limit;
        EXPECT_EQ(results[0].text.size(), limit - 1);
        EXPECT_EQ(results[2].text, "next");
    }
}

TEST(BoundedLineReader, CarriageReturnsBeforeTheLineFeedCountTowardsTheLimit) {
    auto results = read_all(std::string(8, 'x') + "\r\n", 9);
    EXPECT_EQ(kinds(results), (std::vector<K>{K::Oversized, K::Closed}));
}

TEST(BoundedLineReader, ALastLineWithoutLineFeedIsStillALine) {
    auto results = read_all("first\nlast", 100);
    EXPECT_EQ(kinds(results), (std::vector<K>{K::Line, K::Line, K::Closed}));
    EXPECT_EQ(results[1].text, "last");
    EXPECT_EQ(kinds(read_all(std::string(101, 'x'), 100)), (std::vector<K>{K::Oversized, K::Closed}));
}

TEST(BoundedLineReader, TrailingCarriageReturnsGoButInnerOnesStay) {
    auto results = read_all("a\r\nb\r\r\r\nc\rd\n\r\n\r\r\n\n", 100);
    ASSERT_EQ(kinds(results), (std::vector<K>{K::Line, K::Line, K::Line, K::Line, K::Line, K::Line, K::Closed}));
    EXPECT_EQ(results[0].text, "a");
    EXPECT_EQ(results[1].text, "b");
    EXPECT_EQ(results[2].text, "c\rd");
    EXPECT_EQ(results[3].text, "");
    EXPECT_EQ(results[4].text, "");
    EXPECT_EQ(results[5].text, "");
}

TEST(BoundedLineReader, InvalidUtf8IsReportedAndSkipped) {
    auto results = read_all("ok\n\xFF\nafter \xC3\xA9\n", 100);
    EXPECT_EQ(kinds(results), (std::vector<K>{K::Line, K::InvalidUtf8, K::Line, K::Closed}));
    EXPECT_EQ(results[2].text, "after \xC3\xA9");
}

TEST(BoundedLineReader, AReadErrorDropsThePartialLineAndCarriesTheOsText) {
    auto results = read_all("whole\npart", 100, /*fail_at_end=*/true);
    ASSERT_EQ(kinds(results), (std::vector<K>{K::Line, K::Failed}));
    EXPECT_NE(results[1].text.find("(os error 5)"), std::string::npos) << results[1].text;
}

TEST(BoundedLineReader, AnEmptyStreamIsClosedAtOnce) {
    EXPECT_EQ(kinds(read_all("", 100)), (std::vector<K>{K::Closed}));
}

TEST(BoundedLineReader, LinesSpanningManyBufferRefillsAreJoined) {
    std::string line;
    for (int i = 0; i < 30000; ++i) line += static_cast<char>('a' + i % 26);
    auto results = read_all(line + "\n", 65536);
    EXPECT_EQ(results[0].text, line);
}

TEST(BoundedLineReader, AnEndlessLineIsConsumedOneRefillAtATime) {
    // 64 MiB of one line under a 1 KiB limit: consumed one refill at a time.
    TextSource source(std::string(64u << 20, 'x') + "\nafter\n");
    BufferedReader reader(source);
    EXPECT_EQ(read_bounded_line(reader, 1024).kind, K::Oversized);
    EXPECT_EQ(source.reads, static_cast<int>((64u << 20) / kReadBufferBytes) + 1);
    EXPECT_EQ(read_bounded_line(reader, 1024).text, "after");
}

}  // namespace
}  // namespace quern::io

namespace quern::io {
namespace {

// Every result of reading the whole text through views, copied out.
std::vector<LineResult> read_all_as_views(std::string text, std::size_t limit, bool fail_at_end = false) {
    TextSource source(std::move(text), fail_at_end);
    BufferedReader reader(source);
    std::string scratch;
    std::vector<LineResult> results;
    for (;;) {
        std::string_view view;
        const LineEventKind kind = read_bounded_line_view(reader, limit, scratch, view);
        results.push_back({kind, std::string(view)});
        if (kind == LineEventKind::Closed || kind == LineEventKind::Failed) return results;
    }
}

// Lines whole in the buffer are given where they lie, the others through the
// copying path: the two must never differ.
TEST(BoundedLineReader, ViewsGiveExactlyWhatCopiesGive) {
    const std::string long_line(kReadBufferBytes + 100, 'x');
    const std::vector<std::string> texts = {
        "one\r\ntwo\n\nthree",
        "a\xFF\nb\r\r\n" + long_line + "\nafter\n",
        std::string(kReadBufferBytes - 2, 'y') + "\nspans\n",
        std::string(3000, 'z') + "\nshort\n" + std::string(40, 'w'),
    };
    for (const std::string& text : texts) {
        for (const std::size_t limit : {std::size_t{16}, std::size_t{3001}, std::size_t{1} << 20}) {
            for (const bool fail : {false, true}) {
                const std::vector<LineResult> copies = read_all(text, limit, fail);
                const std::vector<LineResult> views = read_all_as_views(text, limit, fail);
                ASSERT_EQ(kinds(views), kinds(copies)) << limit;
                for (std::size_t i = 0; i < copies.size(); ++i) EXPECT_EQ(views[i].text, copies[i].text) << i;
            }
        }
    }
}

}  // namespace
}  // namespace quern::io
