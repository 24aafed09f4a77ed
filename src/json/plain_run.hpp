#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quern::json::detail {

// How many bytes from the start of text need no attention inside a JSON
// string: neither '"' nor '\\' nor a control character below 0x20. The parser
// copies such runs whole and the writer writes them whole; eight bytes are
// looked at a time, since strings are most of what the runtime relays.
inline std::size_t plain_run_length(std::string_view text) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    std::size_t at = 0;
#if defined(__SSE2__)
    // Sixteen at a time where every x86-64 machine can.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control_top = _mm_set1_epi8(0x1F);
    while (text.size() - at >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, control_top), control_top);
        const __m128i flagged =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), control);
        const int mask = _mm_movemask_epi8(flagged);
        if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        at += 16;
    }
#endif
    while (text.size() - at >= 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        const std::uint64_t quotes = word ^ (kOnes * '"');
        const std::uint64_t backslashes = word ^ (kOnes * '\\');
        // A byte is flagged when it is zero (after the xor) or below 0x20; bytes
        // of 0x80 and above are never flagged by the control test.
        const std::uint64_t flagged = ((quotes - kOnes) & ~quotes) | ((backslashes - kOnes) & ~backslashes) |
                                      ((word - kOnes * 0x20) & ~word);
        if ((flagged & kHighs) != 0) break;
        at += 8;
    }
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++at;
    }
    return at;
}

}  // namespace quern::json::detail
