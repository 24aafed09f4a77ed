// The JSON parser and the compact writer, on any bytes.
//
// json::parse_json accepts exactly what a plain, independent reading of the
// grammar accepts (reference_json.hpp) and gives the same value; for what it
// accepts, writing and reading back is lossless (parse(write(v)) == v) and the
// written text is canonical (write(parse(write(v))) == write(v)); nothing but
// whitespace may follow a value; nesting stops exactly at the depth limit.
// Refusals carry a description and a position inside the text. The rewriter
// that relays records without a value (json::CompactRewriter) writes exactly
// the compact text of parse_json's value, or declines; it never takes an error.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "base/utf8.hpp"
#include "json/parse.hpp"
#include "json/rewrite.hpp"
#include "json/write.hpp"
#include "reference_json.hpp"
#include "same_value.hpp"

namespace quern::fuzz {
namespace {

int depth(const json::Value& value) {
    int deepest = 0;
    if (value.is_array()) {
        for (const json::Value& element : value.as_array()) deepest = std::max(deepest, depth(element));
        return deepest + 1;
    }
    if (value.is_object()) {
        for (const json::Member& member : value.as_object()) deepest = std::max(deepest, depth(member.value));
        return deepest + 1;
    }
    return 0;
}

std::size_t number_after(std::string_view message, std::string_view label) {
    const std::size_t at = message.rfind(label);
    if (at == std::string_view::npos) return 0;
    std::size_t n = 0;
    for (const char c : message.substr(at + label.size())) {
        if (c < '0' || c > '9') break;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}

// "DESCRIPTION at line L column C", the line and column inside the text.
void check_refusal_message(std::string_view text, const std::string& message) {
    const std::size_t at = message.rfind(" at line ");
    QUERN_FUZZ_CHECK(at != std::string::npos && at > 0, message);
    QUERN_FUZZ_CHECK(message.find(" column ", at) != std::string::npos, message);
    const std::size_t line = number_after(message, " at line ");
    const std::size_t lines = 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    QUERN_FUZZ_CHECK(line >= 1 && line <= lines, message);
    QUERN_FUZZ_CHECK(number_after(message, " column ") <= text.size(), message);
}

std::string nested(std::string_view text, int levels) {
    const auto n = static_cast<std::size_t>(levels);
    return std::string(n, '[') + std::string(text) + std::string(n, ']');
}

void check_accepted(std::string_view text, const json::Value& value) {
    const std::string written = json::to_compact_text(value);
    QUERN_FUZZ_CHECK(well_formed_utf8(written), written);
    QUERN_FUZZ_CHECK(std::none_of(written.begin(), written.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                     written);
    base::Result<json::Value> reread = json::parse_json(written);
    QUERN_FUZZ_CHECK(reread.ok(), written + " / " + reread.error());
    QUERN_FUZZ_CHECK(same(reread.value(), value), written);
    QUERN_FUZZ_CHECK(json::to_compact_text(reread.value()) == written, written);

    // Whitespace may follow a value; nothing else may.
    base::Result<json::Value> spaced = json::parse_json(std::string(text) + " \t\r\n");
    QUERN_FUZZ_CHECK(spaced.ok() && same(spaced.value(), value), std::string(text));
    for (const std::string_view tail :
         {std::string_view("x"), std::string_view("\0", 1), std::string_view(" 0"), std::string_view(","),
          std::string_view("]"), std::string_view("}"), std::string_view("\"\""), std::string_view("\xC2\xA0")}) {
        const std::string longer = std::string(text) + std::string(tail);
        QUERN_FUZZ_CHECK(!json::parse_json(longer).ok(), longer);
    }

    // The depth limit, exactly: as deep as it allows, and one deeper.
    const int levels = depth(value);
    QUERN_FUZZ_CHECK(levels <= json::kMaxDepth, std::to_string(levels));
    const std::string deepest = nested(written, json::kMaxDepth - levels);
    QUERN_FUZZ_CHECK(json::parse_json(deepest).ok(), deepest);
    const std::string too_deep = nested(written, json::kMaxDepth - levels + 1);
    base::Result<json::Value> refused = json::parse_json(too_deep);
    QUERN_FUZZ_CHECK(!refused.ok(), too_deep);
    QUERN_FUZZ_CHECK(refused.error().rfind("recursion limit exceeded at line 1 column ", 0) == 0, refused.error());
}

}  // namespace
}  // namespace quern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quern;
    const std::string_view text = fuzz::as_text(data, size);
    base::Result<json::Value> parsed = json::parse_json(text);
    if (base::is_valid_utf8(text)) {
        static json::CompactRewriter rewriter;  // kept, as the relay keeps it, across inputs
        std::string rewritten;
        if (rewriter.rewrite(text, rewritten)) {
            QUERN_FUZZ_CHECK(parsed.ok(), "rewrote what is an error: " + std::string(text));
            QUERN_FUZZ_CHECK(rewritten == json::to_compact_text(parsed.value()),
                             rewritten + " / expected: " + json::to_compact_text(parsed.value()));
        }
    }
    const std::optional<json::Value> reference = fuzz::reference_parse(text, json::kMaxDepth);
    QUERN_FUZZ_CHECK(parsed.ok() == reference.has_value(),
                     (parsed.ok() ? std::string("accepted: ") : "refused (" + parsed.error() + "): ") +
                         std::string(text));
    if (!parsed.ok()) {
        fuzz::check_refusal_message(text, parsed.error());
        return 0;
    }
    QUERN_FUZZ_CHECK(fuzz::same(parsed.value(), *reference),
                     json::to_compact_text(parsed.value()) + " / expected: " + json::to_compact_text(*reference));
    fuzz::check_accepted(text, parsed.value());
    return 0;
}
