#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

namespace quern::json::detail {

// The runtime's one notation for a float, from the shortest significant digits
// that name it (no leading or trailing zeros; none for zero) and the decimal
// exponent of the first: plain notation with at least one digit after the point
// when the exponent lies in [-5, 15] (0.0, 1.5, 100.0, 0.000015), otherwise
// d.ddde+N / d.ddde-N (1e+16, 1.5e-7, 5e-324). append_float gets the digits
// from the double; the rewriter takes them from the text when they are few.
inline void append_float_notation(bool negative, std::string_view digits, int exponent, std::string& out) {
    if (negative) out += '-';
    if (digits.empty()) {
        out += "0.0";
        return;
    }
    const int count = static_cast<int>(digits.size());
    if (exponent >= -5 && exponent <= 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
            return;
        }
        const int whole = exponent + 1;  // digits before the point
        if (count <= whole) {
            out += digits;
            out.append(static_cast<std::size_t>(whole - count), '0');
            out += ".0";
            return;
        }
        out += digits.substr(0, static_cast<std::size_t>(whole));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(whole));
        return;
    }
    out += digits.front();
    if (count > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += exponent < 0 ? "e-" : "e+";
    char exp[8];
    auto [end, ec] = std::to_chars(exp, exp + sizeof exp, exponent < 0 ? -exponent : exponent);
    (void)ec;  // a double's exponent has at most three digits
    out.append(exp, end);
}

}  // namespace quern::json::detail
