#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/events.hpp"

namespace quern::io {
namespace {

// Everything one event held, as text, in the order it came out.
std::vector<std::string> unpacked(const RuntimeEvent& event) {
    std::vector<std::string> out;
    event.for_each(
        [&](const StreamLine& line) {
            out.push_back("line " + std::to_string(static_cast<int>(line.kind)) + " " + std::string(line.text));
        },
        [&](const ShapedLine& line) {
            if (!line.is_record) return out.push_back("no record");
            out.push_back("record " + std::string(line.record) + " key " + std::string(line.answered_key));
        });
    return out;
}

Shaped append(std::string& out, std::string_view record, std::string_view key) {
    out += record;
    out += key;
    return {true, static_cast<std::uint32_t>(key.size())};
}

TEST(RuntimeEvent, PlainAndShapedLinesComeOutAsTheyWentInWithTheKeyApart) {
    RuntimeEvent event(EventSource::BackendStdout);
    event.add(LineEventKind::Line, "plain\nwith a line feed");
    event.add_shaped([](std::string& out) { return append(out, R"({"id":7,"type":"response"})", "7"); });
    event.add_shaped([](std::string& out) { return append(out, R"({"type":"event"})", ""); });
    // A shaper that wrote something and then found no record leaves nothing.
    event.add_shaped([](std::string& out) {
        out += "half";
        return Shaped{};
    });
    event.add_shaped([](std::string& out) { return append(out, "", ""); });
    event.add(LineEventKind::Failed, "Broken pipe (os error 32)");
    EXPECT_EQ(unpacked(event), (std::vector<std::string>{
                                   "line 0 plain\nwith a line feed",
                                   R"(record {"id":7,"type":"response"} key 7)",
                                   R"(record {"type":"event"} key )",
                                   "no record",
                                   "record  key ",
                                   "line 4 Broken pipe (os error 32)",
                               }));
}

TEST(RuntimeEvent, AProcessEventHasNoLines) {
    const RuntimeEvent event(EventSource::BackendExit);
    EXPECT_TRUE(event.empty());
    EXPECT_EQ(event.source(), EventSource::BackendExit);
    EXPECT_TRUE(unpacked(event).empty());
}

}  // namespace
}  // namespace quern::io
