#include "json/float_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace quern::json {

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
