#include "json/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

namespace quern::json {

namespace {

constexpr std::int64_t kExponentClamp = 1'000'000'000;

// The explicit exponent after 'e', clamped so that huge exponents cannot overflow.
std::int64_t explicit_exponent(std::string_view text) {
    std::size_t at = text.find_first_of("eE");
    if (at == std::string_view::npos) return 0;
    std::string_view exp = text.substr(at + 1);
    bool negative = !exp.empty() && exp.front() == '-';
    if (!exp.empty() && (exp.front() == '-' || exp.front() == '+')) exp.remove_prefix(1);
    std::int64_t value = 0;
    for (char c : exp) value = std::min(kExponentClamp, value * 10 + (c - '0'));
    return negative ? -value : value;
}

// Decimal exponent of the first significant digit, e.g. 2 for "123.0", -3 for
// "0.00123", 401 for "1e401". Tells overflow from underflow when the double
// conversion reports its result out of range.
std::int64_t leading_exponent(std::string_view text) {
    std::string_view mantissa = text.substr(0, text.find_first_of("eE"));
    std::size_t point = mantissa.find('.');
    std::string_view whole = mantissa.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
    std::int64_t position = 0;
    std::size_t first = whole.find_first_of("123456789");
    if (first != std::string_view::npos) {
        position = static_cast<std::int64_t>(whole.size() - first) - 1;
    } else {
        first = fraction.find_first_of("123456789");
        position = -static_cast<std::int64_t>(first) - 1;
    }
    return position + explicit_exponent(text);
}

std::optional<Value> integer_from_text(std::string_view text) {
    const char* end = text.data() + text.size();
    if (text.front() == '-') {
        std::int64_t n = 0;
        auto [ptr, ec] = std::from_chars(text.data(), end, n);
        if (ec != std::errc() || ptr != end) return std::nullopt;
        if (n == 0) return Value::from_double(-0.0);
        return Value::from_signed(n);
    }
    std::uint64_t n = 0;
    auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return Value::from_unsigned(n);
}

}  // namespace

std::optional<Value> number_from_text(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const bool integral = text.find_first_of(".eE") == std::string_view::npos;
    if (integral) {
        if (auto integer = integer_from_text(text)) return integer;
        // Beyond 64 bits: the number is still valid, as a float.
    }
    double d = 0.0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec == std::errc::result_out_of_range) {
        if (leading_exponent(text) >= 0) return std::nullopt;
        return Value::from_double(text.front() == '-' ? -0.0 : 0.0);
    }
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return Value::from_double(d);
}

}  // namespace quern::json
