#include "json/number.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
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
    // Out of range or not, a number is all of the text or none of it.
    if (ptr != text.data() + text.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        if (leading_exponent(text) >= 0) return std::nullopt;
        return Value::from_double(text.front() == '-' ? -0.0 : 0.0);
    }
    if (ec != std::errc()) return std::nullopt;
    return Value::from_double(d);
}

namespace {

struct ShortestDigits {
    std::string_view digits;  // significant digits, no point, no sign
    int exponent;             // decimal exponent of the first digit
};

// to_chars without a precision gives the shortest round-trip digits; its
// scientific form ("1.5e-07") is split into digits and exponent here.
ShortestDigits shortest_digits(double magnitude, std::array<char, 32>& buffer,
                               std::array<char, 24>& digits) {
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                   std::chars_format::scientific);
    (void)ec;  // 32 bytes hold every double in scientific form
    std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    std::size_t e_at = text.find('e');
    std::size_t count = 0;
    for (char c : text.substr(0, e_at)) {
        if (c != '.') digits[count++] = c;
    }
    int exponent = 0;
    std::string_view exp_text = text.substr(e_at + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    return {std::string_view(digits.data(), count), exponent};
}

void append_plain(ShortestDigits d, std::string& out) {
    const int count = static_cast<int>(d.digits.size());
    if (d.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += d.digits;
        return;
    }
    const int whole = d.exponent + 1;  // digits before the point
    if (count <= whole) {
        out += d.digits;
        out.append(static_cast<std::size_t>(whole - count), '0');
        out += ".0";
        return;
    }
    out += d.digits.substr(0, static_cast<std::size_t>(whole));
    out += '.';
    out += d.digits.substr(static_cast<std::size_t>(whole));
}

void append_exponent(ShortestDigits d, std::string& out) {
    out += d.digits.front();
    if (d.digits.size() > 1) {
        out += '.';
        out += d.digits.substr(1);
    }
    out += d.exponent < 0 ? "e-" : "e+";
    std::array<char, 8> exp;
    auto [end, ec] = std::to_chars(exp.data(), exp.data() + exp.size(), std::abs(d.exponent));
    (void)ec;
    out.append(exp.data(), end);
}

}  // namespace

void append_float(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (std::signbit(value)) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        out += "0.0";
        return;
    }
    std::array<char, 32> buffer;
    std::array<char, 24> digits;
    ShortestDigits d = shortest_digits(magnitude, buffer, digits);
    if (d.exponent >= -5 && d.exponent <= 15) {
        append_plain(d, out);
    } else {
        append_exponent(d, out);
    }
}

}  // namespace quern::json
