#include "json/parse_error.hpp"

#include <rapidjson/error/error.h>

#include <algorithm>

namespace quern::json::detail {

namespace {

using rapidjson::ParseErrorCode;

constexpr const char* kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The last byte before offset that is not JSON whitespace, or 0 when none.
char previous_token(std::string_view text, std::size_t offset) {
    while (offset > 0) {
        char c = text[--offset];
        if (!is_json_space(c)) return c;
    }
    return '\0';
}

// True when the bytes just before offset are a proper prefix of true, false or
// null: the parser stopped inside a literal.
bool inside_literal(std::string_view text, std::size_t offset) {
    for (std::string_view literal : {"true", "false", "null"}) {
        for (std::size_t taken = 1; taken < literal.size() && taken <= offset; ++taken) {
            if (text.substr(offset - taken, taken) == literal.substr(0, taken)) return true;
        }
    }
    return false;
}

const char* eof_in(Container container) {
    switch (container) {
        case Container::Array: return "EOF while parsing a list";
        case Container::Object: return "EOF while parsing an object";
        case Container::None: break;
    }
    return "EOF while parsing a value";
}

// RapidJSON reports a missing value both where none has started yet (after '['
// or ',') and inside a broken literal or number; the bytes around tell which.
std::string describe_invalid_value(std::string_view text, const ParseStop& stop) {
    const bool at_end = stop.offset >= text.size();
    const char before = previous_token(text, stop.offset);
    if (at_end) {
        // After '[' or ',' no element has begun yet: the list itself is cut short.
        const bool between_elements = before == '[' || before == ',';
        return between_elements ? eof_in(stop.innermost) : "EOF while parsing a value";
    }
    if (inside_literal(text, stop.offset)) return "expected ident";
    if (stop.offset > 0 && text[stop.offset - 1] == '-') return "invalid number";
    if (text[stop.offset] == ']' && before == ',') return "trailing comma";
    return "expected value";
}

std::string describe_missing_name(std::string_view text, const ParseStop& stop) {
    if (stop.offset >= text.size()) return "EOF while parsing an object";
    if (text[stop.offset] == '}' && previous_token(text, stop.offset) == ',') {
        return "trailing comma";
    }
    return "key must be a string";
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A \u escape at offset whose hex digits run into the end of the text.
bool hex_escape_cut_short(std::string_view text, std::size_t offset) {
    std::size_t at = offset + 2;
    while (at < text.size() && is_hex(text[at])) ++at;
    return at >= text.size();
}

std::string describe_escape(std::string_view text, const ParseStop& stop) {
    if (stop.offset >= text.size()) return "EOF while parsing a string";
    if (static_cast<unsigned char>(text[stop.offset]) < 0x20) return kControlCharacter;
    if (stop.offset + 1 >= text.size()) return "EOF while parsing a string";
    return "invalid escape";
}

std::string describe_builder_fault(BuilderFault fault) {
    switch (fault) {
        case BuilderFault::RecursionLimit: return "recursion limit exceeded";
        case BuilderFault::NumberOutOfRange: return "number out of range";
        case BuilderFault::InvalidCodePoint: return "invalid unicode code point";
        case BuilderFault::None: break;
    }
    return "expected value";
}

std::string describe_number(std::string_view text, const ParseStop& stop) {
    return stop.offset >= text.size() ? "EOF while parsing a value" : "invalid number";
}

}  // namespace

std::string describe_parse_stop(std::string_view text, const ParseStop& stop) {
    if (stop.fault != BuilderFault::None) return describe_builder_fault(stop.fault);
    const bool at_end = stop.offset >= text.size();
    switch (static_cast<ParseErrorCode>(stop.code)) {
        case rapidjson::kParseErrorDocumentEmpty: return "EOF while parsing a value";
        case rapidjson::kParseErrorDocumentRootNotSingular: return "trailing characters";
        case rapidjson::kParseErrorValueInvalid: return describe_invalid_value(text, stop);
        case rapidjson::kParseErrorObjectMissName: return describe_missing_name(text, stop);
        case rapidjson::kParseErrorObjectMissColon:
            return at_end ? "EOF while parsing an object" : "expected `:`";
        case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
            return at_end ? "EOF while parsing an object" : "expected `,` or `}`";
        case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
            return at_end ? "EOF while parsing a list" : "expected `,` or `]`";
        case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
            return hex_escape_cut_short(text, stop.offset) ? "unexpected end of hex escape"
                                                           : "invalid escape";
        case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
            return "lone leading surrogate in hex escape";
        case rapidjson::kParseErrorStringEscapeInvalid: return describe_escape(text, stop);
        case rapidjson::kParseErrorStringMissQuotationMark: return "EOF while parsing a string";
        case rapidjson::kParseErrorStringInvalidEncoding: return "invalid unicode code point";
        case rapidjson::kParseErrorNumberTooBig: return "number out of range";
        case rapidjson::kParseErrorNumberMissFraction:
        case rapidjson::kParseErrorNumberMissExponent: return describe_number(text, stop);
        default: break;
    }
    return "expected value";
}

std::string describe_position(std::string_view text, std::size_t offset) {
    std::size_t column_end = offset < text.size() ? offset + 1 : text.size();
    std::size_t scan_end = std::min(offset, text.size());
    std::size_t line = 1 + static_cast<std::size_t>(
                               std::count(text.begin(), text.begin() + static_cast<long>(scan_end), '\n'));
    std::size_t line_start = text.substr(0, scan_end).rfind('\n');
    line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
    return " at line " + std::to_string(line) + " column " + std::to_string(column_end - line_start);
}

}  // namespace quern::json::detail
