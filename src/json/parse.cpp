#include "json/parse.hpp"

#include <rapidjson/reader.h>

#include <vector>

#include "base/utf8.hpp"
#include "json/fast_parse.hpp"
#include "json/number.hpp"
#include "json/parse_error.hpp"
#include "json/scanner.hpp"

namespace quern::json {

namespace {

using detail::BuilderFault;
using detail::number_token_length;
using detail::Container;

// RapidJSON refuses some numbers that are in range by their value: a whole
// part of some 309 digits or more, or an exponent above 308 minus the fraction
// digits (0e400; 1 and 310 zeros then e-300, about 1e10). Such a number, when
// its value fits a double, is shown to RapidJSON as 0.000... of the same length,
// and the builder converts the number's own text (the length is what ties the
// two together). A number that truly overflows is shown as it is, so it is
// refused exactly as before.
bool rapidjson_may_refuse(std::string_view number) {
    if (number.size() > 300) return true;
    const std::size_t e = number.find_first_of("eE");
    if (e == std::string_view::npos) return false;
    std::size_t digits = number.size() - e - 1;
    if (digits > 0 && (number[e + 1] == '+' || number[e + 1] == '-')) --digits;
    return digits >= 3;
}

// A RapidJSON input stream over exactly the given bytes. RapidJSON takes '\0'
// for the end of input, so a NUL inside the text is shown to it as 0x01: a byte
// that is just as wrong in every place a NUL is wrong (outside a string it
// starts no token; inside one it is an unescaped control character). It follows
// the text's strings so that it knows where a number token starts.
class BoundedStream {
public:
    using Ch = char;

    explicit BoundedStream(std::string_view text) : text_(text) { look_at_token(); }

    Ch Peek() const {
        if (at_ >= text_.size()) return '\0';
        if (at_ < shown_zero_end_) return shown_zero_char(at_);
        return text_[at_] == '\0' ? '\x01' : text_[at_];
    }
    Ch Take() {
        Ch c = Peek();
        if (at_ >= text_.size()) return c;
        follow_strings(text_[at_]);
        ++at_;
        look_at_token();
        return c;
    }
    std::size_t Tell() const { return at_; }

    // The input's own text of the token that ends here and is length long.
    std::string_view text_before(std::size_t length) const { return text_.substr(at_ - length, length); }

    // Only in-situ parsing writes to the input stream, and it is not used.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    void follow_strings(char c) {
        if (!in_string_) {
            in_string_ = c == '"';
        } else if (escaped_) {
            escaped_ = false;
        } else if (c == '\\') {
            escaped_ = true;
        } else if (c == '"') {
            in_string_ = false;
        }
    }

    // At the start of a number token outside a string, decides how it is shown.
    void look_at_token() {
        if (in_string_ || at_ < token_end_ || at_ >= text_.size()) return;
        const char c = text_[at_];
        if (c != '-' && !(c >= '0' && c <= '9')) return;
        const std::size_t length = number_token_length(text_.substr(at_));
        token_end_ = at_ + length;
        const std::string_view number = text_.substr(at_, length);
        if (!rapidjson_may_refuse(number) || !number_from_text(number)) return;
        // The shown zero has no exponent, so an 'e' after the token would carry
        // RapidJSON on into one ("0e400e5" read as 0.000e5); such text is wrong
        // after any number, and shown as it is RapidJSON refuses it as before.
        if (token_end_ < text_.size() && (text_[token_end_] == 'e' || text_[token_end_] == 'E')) return;
        shown_zero_begin_ = at_;
        shown_zero_end_ = token_end_;
        sign_length_ = c == '-' ? 1 : 0;
    }

    // "-0.000..." or "0.000...": valid, in range, and as long as the token.
    Ch shown_zero_char(std::size_t at) const {
        const std::size_t k = at - shown_zero_begin_;
        if (k < sign_length_) return '-';
        if (k == sign_length_ + 1) return '.';
        return '0';
    }

    std::string_view text_;
    std::size_t at_ = 0;
    bool in_string_ = false;
    bool escaped_ = false;
    std::size_t token_end_ = 0;
    std::size_t shown_zero_begin_ = 0;
    std::size_t shown_zero_end_ = 0;
    std::size_t sign_length_ = 0;
};

// One open array or object while the value is built.
struct Frame {
    Container container;
    std::vector<Value> elements;
    std::vector<Member> members;
    std::string key;
};

// SAX handler that builds the Value with an explicit stack, so nesting depth
// costs heap, not call stack, and the depth limit is checked as containers open.
class ValueBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ValueBuilder> {
public:
    bool Null() { return add(Value()); }
    bool Bool(bool b) { return add(Value(b)); }
    explicit ValueBuilder(const BoundedStream& stream) : stream_(stream) {}

    bool RawNumber(const char*, rapidjson::SizeType length, bool) {
        // RapidJSON's copy may be the shown zero; the input holds the number.
        auto number = number_from_text(stream_.text_before(length));
        if (!number) return fail(BuilderFault::NumberOutOfRange);
        return add(std::move(*number));
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        std::string_view s(text, length);
        // \uDC00 alone decodes to a surrogate, which has no UTF-8 form.
        if (!base::is_valid_utf8(s)) return fail(BuilderFault::InvalidCodePoint);
        return add(Value(s));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        std::string_view s(text, length);
        if (!base::is_valid_utf8(s)) return fail(BuilderFault::InvalidCodePoint);
        stack_.back().key.assign(s);
        return true;
    }
    bool StartObject() { return open(Container::Object); }
    bool StartArray() { return open(Container::Array); }
    bool EndObject(rapidjson::SizeType) {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        return add(Object::from_members(std::move(frame.members)));
    }
    bool EndArray(rapidjson::SizeType) {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        return add(Array(std::move(frame.elements)));
    }

    Value take_result() { return std::move(result_); }
    BuilderFault fault() const { return fault_; }
    Container innermost() const { return stack_.empty() ? Container::None : stack_.back().container; }

private:
    bool open(Container container) {
        if (stack_.size() >= static_cast<std::size_t>(kMaxDepth)) {
            return fail(BuilderFault::RecursionLimit);
        }
        stack_.push_back(Frame{container, {}, {}, {}});
        return true;
    }
    bool add(Value value) {
        if (stack_.empty()) {
            result_ = std::move(value);
        } else if (stack_.back().container == Container::Array) {
            stack_.back().elements.push_back(std::move(value));
        } else {
            Frame& frame = stack_.back();
            frame.members.push_back(Member{std::move(frame.key), std::move(value)});
        }
        return true;
    }
    bool fail(BuilderFault fault) {
        fault_ = fault;
        return false;
    }

    const BoundedStream& stream_;
    std::vector<Frame> stack_;
    Value result_;
    BuilderFault fault_ = BuilderFault::None;
};

constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseValidateEncodingFlag;

base::Failure parse_failure(std::string_view text, const detail::ParseStop& stop) {
    return base::Failure{detail::describe_parse_stop(text, stop) + detail::describe_position(text, stop.offset)};
}

}  // namespace

base::Result<Value> parse_json(std::string_view text) {
    if (std::optional<Value> common = detail::parse_common(text, kMaxDepth)) return std::move(*common);
    return detail::parse_json_exact(text);
}

base::Result<Value> detail::parse_json_exact(std::string_view text) {
    BoundedStream stream(text);
    ValueBuilder builder(stream);
    rapidjson::Reader reader;
    rapidjson::ParseResult parsed = reader.Parse<kParseFlags>(stream, builder);
    if (parsed.IsError()) {
        return parse_failure(text, {static_cast<int>(parsed.Code()), parsed.Offset(),
                                    builder.fault(), builder.innermost()});
    }
    return builder.take_result();
}

}  // namespace quern::json
