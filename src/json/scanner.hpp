#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/plain_run.hpp"

namespace quern::json::detail {

// The JSON grammar's tokens, read once for both fast paths (parse_common, which
// builds a value, and CompactRewriter, which writes compact text): whitespace,
// literals, numbers, strings with their escapes and surrogate pairs. What it
// cannot read plainly it declines, and the caller gives the text to parse_json's
// exact path. The structure (arrays, objects, depth) is the callers' own.

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of one hexadecimal digit of a \u escape, either case; -1 for any
// other character.
inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Explicit exponents are clamped to this, so that huge ones cannot overflow;
// no text of a number has enough digits to move a clamped exponent back into range.
inline constexpr std::int64_t kExponentClamp = 1'000'000'000;

// A number as the grammar has it: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
struct NumberToken {
    std::string_view text;      // the whole token; empty when no number starts here
    bool negative = false;
    std::string_view whole;     // the digits before the point
    std::string_view fraction;  // the digits after it; empty when there is no point
    bool has_exponent = false;
    std::int64_t exponent = 0;  // the explicit exponent, clamped to kExponentClamp either way

    bool integral() const { return fraction.empty() && !has_exponent; }
};

// The longest number token at the start of [p, end): what is left after it
// (a lone '.', an 'e' without digits) is for the caller to refuse.
inline NumberToken scan_number(const char* p, const char* end) {
    NumberToken token;
    const char* const start = p;
    const auto digits = [&] {
        while (p < end && is_digit(*p)) ++p;
    };
    if (p < end && *p == '-') {
        token.negative = true;
        ++p;
    }
    const char* const whole = p;
    if (p < end && *p == '0') {
        ++p;
    } else if (p < end && is_digit(*p)) {
        digits();
    } else {
        return NumberToken{};
    }
    token.whole = std::string_view(whole, static_cast<std::size_t>(p - whole));
    if (end - p >= 2 && *p == '.' && is_digit(p[1])) {
        const char* const fraction = ++p;
        digits();
        token.fraction = std::string_view(fraction, static_cast<std::size_t>(p - fraction));
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        bool negative = false;
        if (e < end && (*e == '+' || *e == '-')) negative = *e++ == '-';
        if (e < end && is_digit(*e)) {
            std::int64_t exponent = 0;
            for (; e < end && is_digit(*e); ++e) exponent = std::min(kExponentClamp, exponent * 10 + (*e - '0'));
            token.has_exponent = true;
            token.exponent = negative ? -exponent : exponent;
            p = e;
        }
    }
    token.text = std::string_view(start, static_cast<std::size_t>(p - start));
    return token;
}

inline NumberToken scan_number(std::string_view text) { return scan_number(text.data(), text.data() + text.size()); }

// The length of the number token at the start of text, 0 when none starts there.
inline std::size_t number_token_length(std::string_view text) { return scan_number(text).text.size(); }

// Where a number's significant digits lie in its text, from the first non-zero
// digit to the last (a '.' may stand between them), and the decimal exponent
// of the first: 2 for "123.0", -3 for "0.00123", 401 for "1e401". first is
// null for a zero.
struct SignificantDigits {
    const char* first = nullptr;
    const char* last = nullptr;
    std::int64_t exponent = 0;
};

inline SignificantDigits significant_digits(const NumberToken& number) {
    SignificantDigits found;
    const auto non_zero = [](char c) { return c != '0'; };
    const std::string_view whole = number.whole;
    const std::string_view fraction = number.fraction;
    if (!whole.empty() && whole.front() != '0') {  // the grammar allows no leading zero
        found.first = whole.data();
        found.exponent = static_cast<std::int64_t>(whole.size()) - 1;
    } else {
        const auto first = std::find_if(fraction.begin(), fraction.end(), non_zero);
        if (first == fraction.end()) return SignificantDigits{};
        found.first = fraction.data() + (first - fraction.begin());
        found.exponent = -static_cast<std::int64_t>(first - fraction.begin()) - 1;
    }
    const auto in_fraction = std::find_if(fraction.rbegin(), fraction.rend(), non_zero);
    if (in_fraction != fraction.rend()) {
        found.last = fraction.data() + (fraction.rend() - in_fraction) - 1;
    } else {
        const auto in_whole = std::find_if(whole.rbegin(), whole.rend(), non_zero);
        found.last = whole.data() + (whole.rend() - in_whole) - 1;
    }
    found.exponent += number.exponent;
    return found;
}

// A cursor over one text.
class Scanner {
public:
    explicit Scanner(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool at_end() const { return p_ == end_; }
    // The next byte; only when not at_end().
    char peek() const { return *p_; }
    const char* position() const { return p_; }
    void rewind_to(const char* at) { p_ = at; }

    // Takes the next byte when it is c.
    bool take(char c) {
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }

    void skip_whitespace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    // Takes word when the text goes on with it.
    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    // Takes the number token here; empty text when none starts here.
    NumberToken number() {
        const NumberToken token = scan_number(p_, end_);
        p_ += token.text.size();
        return token;
    }

    // After an array's element or an object's member, and the whitespace
    // around: a ',' before another (More), the container's closing byte
    // (Done), or anything else (Wrong).
    enum class Next { More, Done, Wrong };
    Next after_item(char close) {
        skip_whitespace();
        if (take(',')) return Next::More;
        if (take(close)) return Next::Done;
        return Next::Wrong;
    }

    // After the opening quote, through the closing one: appends the runs that
    // need no decoding to out as they stand and gives each escape's code point
    // to on_escape, in order. The text is already known to be UTF-8.
    template <typename OnEscape>
    [[gnu::always_inline]] bool string_body(std::string& out, OnEscape on_escape) {
        for (;;) {
            const std::size_t run = plain_run_length(std::string_view(p_, static_cast<std::size_t>(end_ - p_)));
            out.append(p_, run);
            p_ += run;
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '"') return true;
            if (c != '\\') return false;  // a control character
            char32_t cp = 0;
            if (!escape(cp)) return false;
            on_escape(cp);
        }
    }

private:
    // After the backslash: one escape, a surrogate pair as one code point. A
    // lone surrogate has no UTF-8 form.
    bool escape(char32_t& cp) {
        if (p_ == end_) return false;
        switch (*p_++) {
            case '"': cp = '"'; return true;
            case '\\': cp = '\\'; return true;
            case '/': cp = '/'; return true;
            case 'b': cp = '\b'; return true;
            case 'f': cp = '\f'; return true;
            case 'n': cp = '\n'; return true;
            case 'r': cp = '\r'; return true;
            case 't': cp = '\t'; return true;
            case 'u': break;
            default: return false;
        }
        if (!hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            char32_t low = 0;
            if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        return true;
    }

    bool hex4(char32_t& cp) {
        if (end_ - p_ < 4) return false;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_digit(*p_++);
            if (digit < 0) return false;
            cp = (cp << 4) | static_cast<char32_t>(digit);
        }
        return true;
    }

    const char* p_;
    const char* end_;
};

}  // namespace quern::json::detail
