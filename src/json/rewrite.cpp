#include "json/rewrite.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "base/utf8.hpp"
#include "json/escape.hpp"
#include "json/float_notation.hpp"
#include "json/member_order.hpp"
#include "json/number.hpp"
#include "json/parse.hpp"
#include "json/scanner.hpp"
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

// The first eight bytes of a key as a number that orders as the bytes do,
// zeros after a shorter key. A key is mostly followed by more of its buffer
// (its closing quote, the colon, the value), which lets a short key be read as
// one word too; bytes stored one by one and read back as a word would stall
// the load on every key.
std::uint64_t key_prefix(std::string_view key, const char* buffer_end) {
    if (buffer_end - key.data() >= 8) {
        std::uint64_t word;
        std::memcpy(&word, key.data(), 8);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        if (key.size() >= 8) return word;
        return key.empty() ? 0 : word & (~std::uint64_t{0} << (8 * (8 - key.size())));
    }
    if (key.empty()) return 0;
    std::uint64_t prefix = 0;
    for (const char c : key) prefix = (prefix << 8) | static_cast<unsigned char>(c);
    return prefix << (8 * (8 - key.size()));
}

// The compact text of one decoded character inside a string.
void append_compact_char(char32_t cp, std::string& out) {
    if (detail::needs_escape(cp)) {
        out += detail::escape_of(cp);
    } else {
        base::append_utf8(cp, out);
    }
}

}  // namespace

// One rewrite: the scanner over the input and the steps of the descent. Any
// doubt ends it with false.
class Rewriting {
public:
    Rewriting(CompactRewriter& scratch, std::string_view text, std::string& out)
        : s_(scratch), text_(text), in_(text), out_(out) {}

    bool document() {
        in_.skip_whitespace();
        if (!value(0)) return false;
        in_.skip_whitespace();
        return in_.at_end();
    }

private:
    using Next = detail::Scanner::Next;

    bool literal(std::string_view word) {
        if (!in_.literal(word)) return false;
        out_ += word;
        return true;
    }

    bool value(int depth) {
        if (in_.at_end()) return false;
        switch (in_.peek()) {
            case '{': return object(depth + 1);
            case '[': return array(depth + 1);
            case '"': return string(out_);
            case 't': return literal("true");
            case 'f': return literal("false");
            case 'n': return literal("null");
            default: return number();
        }
    }

    // From the opening quote through the closing one: the string's compact
    // text into out, quotes included. had_escape_ tells whether the decoded
    // bytes differ from the input's. Most of a record is keys and strings:
    // a call for each costs the relay more than the code it would save.
    [[gnu::always_inline]] bool string(std::string& out) {
        in_.take('"');
        out += '"';
        had_escape_ = false;
        const bool read = in_.string_body(out, [this, &out](char32_t cp) {
            had_escape_ = true;
            append_compact_char(cp, out);
        });
        if (!read) return false;
        out += '"';
        return true;
    }

    bool number() {
        const detail::NumberToken token = in_.number();
        if (token.text.empty()) return false;
        if (token.integral()) {
            // An integer in range is its own compact text: JSON has no leading zeros.
            if (token.negative && token.whole == "0") {
                detail::append_float_notation(true, {}, 0, out_);
                return true;
            }
            if (token.whole.size() <= (token.negative ? 18u : 19u)) {
                out_ += token.text;
                return true;
            }
            return number_the_long_way(token.text);
        }
        return float_from_digits(token) || number_the_long_way(token.text);
    }

    // A float of few significant digits and a moderate exponent, written from
    // the digits of its text.
    bool float_from_digits(const detail::NumberToken& token) {
        const detail::SignificantDigits significant = detail::significant_digits(token);
        if (significant.first == nullptr) {
            detail::append_float_notation(token.negative, {}, 0, out_);
            return true;
        }
        if (significant.exponent < -kPlainExponentLimit || significant.exponent > kPlainExponentLimit) return false;
        char digits[kRoundTripDigits];
        std::size_t count = 0;
        for (const char* d = significant.first; d <= significant.last; ++d) {
            if (*d == '.') continue;
            if (count == kRoundTripDigits) return false;
            digits[count++] = *d;
        }
        detail::append_float_notation(token.negative, std::string_view(digits, count),
                                      static_cast<int>(significant.exponent), out_);
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
        in_.take('[');
        out_ += '[';
        in_.skip_whitespace();
        if (!in_.take(']')) {
            bool first = true;
            for (Next next = Next::More; next == Next::More; first = false) {
                in_.skip_whitespace();
                if (!first) out_ += ',';
                if (!value(depth)) return false;
                next = in_.after_item(']');
                if (next == Next::Wrong) return false;
            }
        }
        out_ += ']';
        return true;
    }

    bool object(int depth) {
        if (depth > kMaxDepth) return false;
        in_.take('{');
        out_ += '{';
        const std::size_t base = s_.members_.size();
        in_.skip_whitespace();
        if (in_.take('}')) {
            out_ += '}';
            return true;
        }
        for (Next next = Next::More; next == Next::More;) {
            in_.skip_whitespace();
            if (in_.at_end() || in_.peek() != '"') return false;
            if (s_.members_.size() > base) out_ += ',';
            CompactRewriter::MemberSpan member{};
            member.begin = out_.size();
            if (!key(member)) return false;
            in_.skip_whitespace();
            if (!in_.take(':')) return false;
            out_ += ':';
            in_.skip_whitespace();
            member.value_begin = out_.size();
            if (!value(depth)) return false;
            member.end = out_.size();
            s_.members_.push_back(member);
            next = in_.after_item('}');
            if (next == Next::Wrong) return false;
        }
        put_members_in_order(base);
        out_ += '}';
        if (depth == 1) keep_top_level();
        s_.members_.resize(base);
        return true;
    }

    // A member's key: its compact text into the output, and where its decoded
    // bytes are (in the input itself unless it had escapes).
    bool key(CompactRewriter::MemberSpan& member) {
        const char* const key = in_.position() + 1;  // after the opening quote
        if (!string(out_)) return false;
        if (had_escape_) {
            decode_key(key, member);
        } else {
            member.key_at = static_cast<std::size_t>(key - text_.data());
            member.key_size = static_cast<std::size_t>(in_.position() - 1 - key);
        }
        return true;
    }

    // Rare, and kept out of the way of the common path: a key with escapes,
    // read a second time for its decoded bytes.
    void decode_key(const char* key, CompactRewriter::MemberSpan& member) {
        const char* const after = in_.position();
        in_.rewind_to(key);
        member.key_decoded = true;
        member.key_at = s_.keys_.size();
        std::string& keys = s_.keys_;
        (void)in_.string_body(keys, [&keys](char32_t cp) { base::append_utf8(cp, keys); });  // read once already
        member.key_size = s_.keys_.size() - member.key_at;
        in_.rewind_to(after);
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
            const char* const buffer_end =
                members[i].key_decoded ? s_.keys_.data() + s_.keys_.size() : text_.data() + text_.size();
            order.push_back({key, key_prefix(key, buffer_end), i});
        }
        const auto before = [](const CompactRewriter::SortKey& a, const CompactRewriter::SortKey& b) {
            return key_before(a, b);
        };
        const auto same = [](const CompactRewriter::SortKey& a, const CompactRewriter::SortKey& b) {
            return a.key == b.key;
        };
        if (!detail::put_in_key_order(order, before, same)) return;

        // The members in order take no more room than in arrival order (a
        // repeated key only drops some), so they go back over the same bytes,
        // copied from a copy of the region.
        const std::size_t region = members[base].begin;
        s_.moved_.assign(out_, region, std::string::npos);
        char* const start = out_.data();
        std::size_t at = region;
        for (std::size_t i = 0; i < order.size(); ++i) {
            CompactRewriter::MemberSpan& member = members[order[i].member];
            if (i > 0) start[at++] = ',';
            const std::size_t size = member.end - member.begin;
            std::memcpy(start + at, s_.moved_.data() + (member.begin - region), size);
            member.value_begin = at + (member.value_begin - member.begin);
            member.end = at + size;
            member.begin = at;
            at += size;
        }
        out_.resize(at);
    }

    void keep_top_level() {
        auto& top = s_.top_level_;
        top.resize(s_.order_.size());
        for (std::size_t i = 0; i < s_.order_.size(); ++i) {
            const CompactRewriter::MemberSpan& member = s_.members_[s_.order_[i].member];
            top[i].begin = member.begin;
            top[i].value_begin = member.value_begin;
            top[i].value_end = member.end;
        }
    }

    CompactRewriter& s_;
    std::string_view text_;
    detail::Scanner in_;
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
    const std::string_view out = *out_;
    for (const TopLevelMember& member : top_level_) {
        // "key": the quotes and the colon around it.
        const std::size_t key_bytes = member.value_begin - member.begin;
        if (key_bytes == key.size() + 3 && out.substr(member.begin + 1, key.size()) == key) {
            return out.substr(member.value_begin, member.value_end - member.value_begin);
        }
    }
    return std::nullopt;
}

}  // namespace quern::json
