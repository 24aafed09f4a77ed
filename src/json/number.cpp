#include "json/number.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "json/float_notation.hpp"
#include "json/scanner.hpp"

namespace quern::json {

namespace {

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
        // The decimal exponent of the first significant digit tells overflow from underflow.
        if (detail::significant_digits(detail::scan_number(text)).exponent >= 0) return std::nullopt;
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

}  // namespace

void append_float(double value, std::string& out) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    const double magnitude = std::fabs(value);
    std::array<char, 32> buffer;
    std::array<char, 24> digits;
    ShortestDigits d{{}, 0};  // a zero has no significant digits
    if (magnitude != 0.0) d = shortest_digits(magnitude, buffer, digits);
    detail::append_float_notation(std::signbit(value), d.digits, d.exponent, out);
}

}  // namespace quern::json
