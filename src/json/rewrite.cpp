#include "json/rewrite.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "base/utf8.hpp"
#include "json/hex_digit.hpp"
#include "json/number.hpp"
#include "json/parse.hpp"
#include "json/plain_run.hpp"
#include "json/write.hpp"

namespace quern::json {

namespace {

// A rare huge record should not pin the scratch space for the rest of the run.
constexpr std::size_t kKeptScratchBytes = 1 << 20;

// Every decimal of at most this many significant digits reads back from a
// double unchanged, so such digits are already the shortest that name their
// double, and the float's compact text can be made from them directly.
constexpr int kRoundTripDigits = 15;
// Decimal exponents for which that holds without a thought about subnormals
// or overflow.
constexpr int kPlainExponentLimit = 300;

// Objects with up to this many members are put in order by insertion.
constexpr std::size_t kInsertionSortLimit = 32;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first eight bytes of a key as a number that orders as the bytes do.
std::uint64_t key_prefix(std::string_view key) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, key.data(), key.size() < 8 ? key.size() : 8);
    std::uint64_t prefix = 0;
    for (const unsigned char byte : bytes) prefix = (prefix << 8) | byte;
    return prefix;
}


// The compact text of one decoded character inside a string.
void append_compact_char(char32_t cp, std::string& out) {
    switch (cp) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\f': out += "\\f"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    if (cp < 0x20) {
        static constexpr char kHex[] = "0123456789abcdef";
        const char code[6] = {'\\', 'u', '0', '0', kHex[cp >> 4], kHex[cp & 0xF]};
        out.append(code, sizeof code);
        return;
    }
    base::append_utf8(cp, out);
}

// A float's significant digits (no leading or trailing zeros, at most
// kRoundTripDigits) and the decimal exponent of the first, in append_float's
// notation.
void append_float_digits(bool negative, std::string_view digits, int exponent, std::string& out) {
    if (negative) out += '-';
    const int count = static_cast<int>(digits.size());
    if (exponent >= -5 && exponent <= 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else if (count <= exponent + 1) {
            out += digits;
            out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
            out += ".0";
        } else {
            out.append(digits.data(), static_cast<std::size_t>(exponent + 1));
            out += '.';
            out.append(digits.data() + exponent + 1, static_cast<std::size_t>(count - exponent - 1));
        }
        return;
    }
    out += digits.front();
    if (count > 1) {
        out += '.';
        out.append(digits.data() + 1, static_cast<std::size_t>(count - 1));
    }
    out += exponent < 0 ? "e-" : "e+";
    char exp[8];
    auto [end, ec] = std::to_chars(exp, exp + sizeof exp, exponent < 0 ? -exponent : exponent);
    (void)ec;
    out.append(exp, end);
}

}  // namespace

// One rewrite: the cursor over the input and the steps of the descent. Any
// doubt ends it with false.
class Rewriting {
public:
    Rewriting(CompactRewriter& scratch, std::string_view text, std::string& out)
        : s_(scratch), text_(text), p_(text.data()), end_(text.data() + text.size()), out_(out) {}

    bool document() {
        skip_whitespace();
        if (!value(0)) return false;
        skip_whitespace();
        return p_ == end_;
    }

private:
    void skip_whitespace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) {
            return false;
        }
        out_ += word;
        p_ += word.size();
        return true;
    }

    bool value(int depth) {
        if (p_ == end_) return false;
        switch (*p_) {
            case '{': return object(depth + 1);
            case '[': return array(depth + 1);
            case '"': ++p_; return string(out_);
            case 't': return literal("true");
            case 'f': return literal("false");
            case 'n': return literal("null");
            default: return number();
        }
    }

    // After the opening quote, through the closing one: the string's compact
    // text into out, quotes included. had_escape_ tells whether the decoded
    // bytes differ from the input's.
    bool string(std::string& out) {
        out += '"';
        had_escape_ = false;
        if (!string_body<true>(out)) return false;
        out += '"';
        return true;
    }

    // Compact: the body's compact text; otherwise its decoded bytes.
    template <bool Compact>
    bool string_body(std::string& out) {
        for (;;) {
            const std::size_t run = detail::plain_run_length(std::string_view(p_, static_cast<std::size_t>(end_ - p_)));
            out.append(p_, run);
            p_ += run;
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '"') return true;
            if (c != '\\') return false;  // a control character
            char32_t cp = 0;
            if (!escape(cp)) return false;
            had_escape_ = true;
            if constexpr (Compact) {
                append_compact_char(cp, out);
            } else {
                base::append_utf8(cp, out);
            }
        }
    }

    // After the backslash.
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
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
            p_ += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        return true;
    }

    bool hex4(char32_t& cp) {
        if (end_ - p_ < 4) return false;
        for (int i = 0; i < 4; ++i) {
            const int digit = detail::hex_digit(*p_++);
            if (digit < 0) return false;
            cp = (cp << 4) | static_cast<char32_t>(digit);
        }
        return true;
    }

    bool number() {
        const char* const start = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (p_ == end_ || !is_digit(*p_)) return false;
        const char* const whole = p_;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ < end_ && is_digit(*p_)) ++p_;
        }
        const char* const whole_end = p_;
        const char* fraction = p_;
        const char* fraction_end = p_;
        if (p_ < end_ && *p_ == '.') {
            fraction = ++p_;
            while (p_ < end_ && is_digit(*p_)) ++p_;
            if (p_ == fraction) return false;
            fraction_end = p_;
        }
        bool has_exponent = false;
        int exponent = 0;
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            has_exponent = true;
            ++p_;
            bool exponent_negative = false;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) exponent_negative = *p_++ == '-';
            if (p_ == end_ || !is_digit(*p_)) return false;
            while (p_ < end_ && is_digit(*p_)) {
                exponent = std::min(exponent * 10 + (*p_ - '0'), 100000);
                ++p_;
            }
            if (exponent_negative) exponent = -exponent;
        }
        const std::string_view token(start, static_cast<std::size_t>(p_ - start));
        const auto whole_digits = whole_end - whole;
        if (fraction == fraction_end && !has_exponent) {
            // An integer in range is its own compact text: JSON has no leading zeros.
            if (negative && whole_digits == 1 && *whole == '0') {
                out_ += "-0.0";
                return true;
            }
            if (whole_digits <= (negative ? 18 : 19)) {
                out_ += token;
                return true;
            }
            return number_the_long_way(token);
        }
        return float_from_digits(negative, whole, whole_end, fraction, fraction_end, exponent) ||
               number_the_long_way(token);
    }

    bool float_from_digits(bool negative, const char* whole, const char* whole_end, const char* fraction,
                           const char* fraction_end, int exponent) {
        // The significant digits run from the first non-zero digit to the last.
        const char* first = nullptr;
        int leading = 0;  // decimal exponent of the first significant digit, before the explicit one
        if (*whole != '0') {
            first = whole;
            leading = static_cast<int>(whole_end - whole) - 1;
        } else {
            for (const char* d = fraction; d < fraction_end; ++d) {
                if (*d != '0') {
                    first = d;
                    leading = -static_cast<int>(d - fraction) - 1;
                    break;
                }
            }
            if (first == nullptr) {
                out_ += negative ? "-0.0" : "0.0";
                return true;
            }
        }
        const char* last = nullptr;  // the last non-zero digit
        for (const char* d = fraction_end; d > fraction;) {
            if (*--d != '0') {
                last = d;
                break;
            }
        }
        if (last == nullptr) {
            for (const char* d = whole_end; d > whole;) {
                if (*--d != '0') {
                    last = d;
                    break;
                }
            }
        }
        char digits[kRoundTripDigits];
        int count = 0;
        const auto take = [&](const char* from, const char* to) {
            for (const char* d = from; d < to; ++d) {
                if (count == kRoundTripDigits) return false;
                digits[count++] = *d;
            }
            return true;
        };
        if (first >= whole && first < whole_end) {
            if (last < whole_end) {
                if (!take(first, last + 1)) return false;
            } else if (!take(first, whole_end) || !take(fraction, last + 1)) {
                return false;
            }
        } else if (!take(first, last + 1)) {
            return false;
        }
        const int decimal_exponent = leading + exponent;
        if (decimal_exponent < -kPlainExponentLimit || decimal_exponent > kPlainExponentLimit) return false;
        append_float_digits(negative, std::string_view(digits, static_cast<std::size_t>(count)), decimal_exponent,
                            out_);
        return true;
    }

    // Big integers, floats of many digits or extreme exponents: converted
    // exactly and written as the value would be.
    bool number_the_long_way(std::string_view token) {
        std::optional<Value> number = number_from_text(token);
        if (!number) return false;
        append_compact(*number, out_);
        return true;
    }

    bool array(int depth) {
        if (depth > kMaxDepth) return false;
        ++p_;
        out_ += '[';
        skip_whitespace();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            out_ += ']';
            return true;
        }
        for (bool first = true;; first = false) {
            skip_whitespace();
            if (!first) out_ += ',';
            if (!value(depth)) return false;
            skip_whitespace();
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == ']') break;
            if (c != ',') return false;
        }
        out_ += ']';
        return true;
    }

    bool object(int depth) {
        if (depth > kMaxDepth) return false;
        ++p_;
        out_ += '{';
        const std::size_t base = s_.members_.size();
        skip_whitespace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            out_ += '}';
            return true;
        }
        for (;;) {
            skip_whitespace();
            if (p_ == end_ || *p_ != '"') return false;
            if (s_.members_.size() > base) out_ += ',';
            CompactRewriter::MemberSpan member{};
            member.begin = out_.size();
            const char* const key = ++p_;
            if (!string(out_)) return false;
            if (had_escape_) {
                const char* const after = p_;
                p_ = key;
                member.key_decoded = true;
                member.key_at = s_.keys_.size();
                (void)string_body<false>(s_.keys_);  // it succeeded once already
                member.key_size = s_.keys_.size() - member.key_at;
                p_ = after;
            } else {
                member.key_at = static_cast<std::size_t>(key - text_.data());
                member.key_size = static_cast<std::size_t>(p_ - 1 - key);
            }
            skip_whitespace();
            if (p_ == end_ || *p_++ != ':') return false;
            out_ += ':';
            skip_whitespace();
            member.value_begin = out_.size();
            if (!value(depth)) return false;
            member.end = out_.size();
            s_.members_.push_back(member);
            skip_whitespace();
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '}') break;
            if (c != ',') return false;
        }
        put_members_in_order(base);
        out_ += '}';
        if (depth == 1) keep_top_level();
        s_.members_.resize(base);
        return true;
    }

    // Byte order of keys; equal prefixes (which a short key padded with zeros
    // may share with a longer one) take the full comparison.
    static bool key_before(const CompactRewriter::SortKey& a, const CompactRewriter::SortKey& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return a.key < b.key;
    }

    std::string_view key_of(const CompactRewriter::MemberSpan& member) const {
        return member.key_decoded ? std::string_view(s_.keys_).substr(member.key_at, member.key_size)
                                  : text_.substr(member.key_at, member.key_size);
    }

    // The object's members from base on are in the output in arrival order,
    // separated by commas, and nothing follows them yet. Puts them in key
    // order, the last of a repeated key replacing the others, and leaves
    // order_ naming the members written, in order (their spans updated).
    void put_members_in_order(std::size_t base) {
        auto& members = s_.members_;
        auto& order = s_.order_;
        order.clear();
        for (std::size_t i = base; i < members.size(); ++i) {
            const std::string_view key = key_of(members[i]);
            order.push_back({key, key_prefix(key), i});
        }
        bool in_order = true;
        for (std::size_t i = 1; i < order.size() && in_order; ++i) in_order = key_before(order[i - 1], order[i]);
        if (in_order) return;
        // Objects are small: an insertion sort, which keeps equal keys in
        // arrival order, beats anything that needs a buffer of its own.
        const auto before = key_before;
        if (order.size() <= kInsertionSortLimit) {
            for (std::size_t i = 1; i < order.size(); ++i) {
                const CompactRewriter::SortKey moving = order[i];
                std::size_t at = i;
                for (; at > 0 && before(moving, order[at - 1]); --at) order[at] = order[at - 1];
                order[at] = moving;
            }
        } else {
            std::stable_sort(order.begin(), order.end(), before);
        }
        // Of equal keys, the last wins.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i + 1 < order.size() && order[i].key == order[i + 1].key) continue;
            order[kept++] = order[i];
        }
        order.resize(kept);

        const std::size_t region = members[base].begin;
        s_.moved_.assign(out_, region, std::string::npos);
        out_.resize(region);
        for (std::size_t i = 0; i < order.size(); ++i) {
            CompactRewriter::MemberSpan& member = members[order[i].member];
            if (i > 0) out_ += ',';
            const std::size_t begin = out_.size();
            out_.append(s_.moved_, member.begin - region, member.end - member.begin);
            member.value_begin = begin + (member.value_begin - member.begin);
            member.end = begin + (member.end - member.begin);
            member.begin = begin;
        }
    }

    void keep_top_level() {
        auto& top = s_.top_level_;
        top.resize(s_.order_.size());
        for (std::size_t i = 0; i < s_.order_.size(); ++i) {
            const CompactRewriter::MemberSpan& member = s_.members_[s_.order_[i].member];
            top[i].key.assign(s_.order_[i].key);
            top[i].value_begin = member.value_begin;
            top[i].value_end = member.end;
        }
    }

    CompactRewriter& s_;
    std::string_view text_;
    const char* p_;
    const char* end_;
    std::string& out_;
    bool had_escape_ = false;
};

bool CompactRewriter::rewrite(std::string_view text, std::string& out) {
    const std::size_t before = out.size();
    members_.clear();
    keys_.clear();
    top_level_.clear();
    out_ = nullptr;
    const bool written = Rewriting(*this, text, out).document();
    if (moved_.capacity() > kKeptScratchBytes) std::string().swap(moved_);
    if (keys_.capacity() > kKeptScratchBytes) std::string().swap(keys_);
    if (!written) {
        out.resize(before);
        top_level_.clear();
        return false;
    }
    out_ = &out;
    return true;
}

std::optional<std::string_view> CompactRewriter::top_level_member(std::string_view key) const {
    if (out_ == nullptr) return std::nullopt;
    for (const TopLevelMember& member : top_level_) {
        if (member.key == key) {
            return std::string_view(*out_).substr(member.value_begin, member.value_end - member.value_begin);
        }
    }
    return std::nullopt;
}

}  // namespace quern::json
