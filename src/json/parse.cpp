#include "json/parse.hpp"

#include <rapidjson/reader.h>

#include <vector>

#include "base/utf8.hpp"
#include "json/number.hpp"
#include "json/parse_error.hpp"

namespace quern::json {

namespace {

using detail::BuilderFault;
using detail::Container;

// A RapidJSON input stream over exactly the given bytes. RapidJSON takes '\0'
// for the end of input, so a NUL inside the text is shown to it as 0x01: a byte
// that is just as wrong in every place a NUL is wrong (outside a string it
// starts no token; inside one it is an unescaped control character).
class BoundedStream {
public:
    using Ch = char;

    explicit BoundedStream(std::string_view text) : text_(text) {}

    Ch Peek() const {
        if (at_ >= text_.size()) return '\0';
        return text_[at_] == '\0' ? '\x01' : text_[at_];
    }
    Ch Take() {
        Ch c = Peek();
        if (at_ < text_.size()) ++at_;
        return c;
    }
    std::size_t Tell() const { return at_; }

    // Only in-situ parsing writes to the input stream, and it is not used.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
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
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        auto number = number_from_text(std::string_view(text, length));
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
    BoundedStream stream(text);
    ValueBuilder builder;
    rapidjson::Reader reader;
    rapidjson::ParseResult parsed = reader.Parse<kParseFlags>(stream, builder);
    if (parsed.IsError()) {
        return parse_failure(text, {static_cast<int>(parsed.Code()), parsed.Offset(),
                                    builder.fault(), builder.innermost()});
    }
    return builder.take_result();
}

}  // namespace quern::json
