#pragma once

#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "json/escape.hpp"
#include "json/number.hpp"
#include "json/plain_run.hpp"
#include "json/value.hpp"

namespace quern::json {

// Writes the compact text of a value into any output with put(std::string_view)
// and put(char), so that text can stream into a pipe buffer as well as into a
// string, without a copy of the whole text in between.
template <typename Out>
class CompactText {
public:
    explicit CompactText(Out& out) : out_(out) {}

    void value(const Value& v) {
        switch (v.kind()) {
            case Kind::Null: out_.put(std::string_view("null")); return;
            case Kind::Bool: out_.put(std::string_view(v.as_bool() ? "true" : "false")); return;
            case Kind::Unsigned: integer(v.as_unsigned()); return;
            case Kind::Negative: integer(v.as_negative()); return;
            case Kind::Float: floating(v.as_double()); return;
            case Kind::String: string(v.as_string()); return;
            case Kind::Array: array(v.as_array()); return;
            case Kind::Object: object(v.as_object()); return;
        }
    }

    void string(std::string_view text) {
        out_.put('"');
        while (!text.empty()) {
            const std::size_t run = detail::plain_run_length(text);
            out_.put(text.substr(0, run));
            if (run == text.size()) break;
            out_.put(detail::escape_of(static_cast<unsigned char>(text[run])));
            text.remove_prefix(run + 1);
        }
        out_.put('"');
    }

private:
    template <typename Integer>
    void integer(Integer n) {
        std::array<char, 24> digits;
        auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), n);
        (void)ec;  // 24 bytes hold every 64-bit integer
        out_.put(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
    }

    void floating(double d) {
        scratch_.clear();  // reused, so floats allocate at most once per writer
        append_float(d, scratch_);
        out_.put(std::string_view(scratch_));
    }

    void array(const Array& elements) {
        out_.put('[');
        bool first = true;
        for (const Value& element : elements) {
            if (!first) out_.put(',');
            first = false;
            value(element);
        }
        out_.put(']');
    }

    void object(const Object& members) {
        out_.put('{');
        bool first = true;
        for (const Member& member : members) {
            if (!first) out_.put(',');
            first = false;
            string(member.key);
            out_.put(':');
            value(member.value);
        }
        out_.put('}');
    }

    Out& out_;
    std::string scratch_;
};

// Appends the compact text of a value: no whitespace, object members in key
// order at every depth, integers exact, floats as append_float writes them,
// strings escaped as detail::escape_of has it (only '"', '\\' and 0x00-0x1F).
void append_compact(const Value& value, std::string& out);

// Appends the compact text of a string, quotes included.
void append_compact_string(std::string_view text, std::string& out);

// The compact text as a new string; the request key of an id is exactly this.
std::string to_compact_text(const Value& value);

}  // namespace quern::json
