#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json/number.hpp"

namespace quern::json {
namespace {

std::string text_of(double value) {
    std::string out;
    append_float(value, out);
    return out;
}

TEST(NumberText, AllOfTheTextOrNothingEvenOutOfRange) {
    EXPECT_EQ(number_from_text("1e-400"), Value::from_double(0.0));
    for (const char* text : {"1e-400e5", "1e-400x", "1e400x", "1.5x", "7 "}) {
        EXPECT_EQ(number_from_text(text), std::nullopt) << text;
    }
}

TEST(FloatText, ZeroKeepsItsSign) {
    EXPECT_EQ(text_of(0.0), "0.0");
    EXPECT_EQ(text_of(-0.0), "-0.0");
}

TEST(FloatText, WholeValuesInPlainRangeGetPointZero) {
    EXPECT_EQ(text_of(3.0), "3.0");
    EXPECT_EQ(text_of(100.0), "100.0");
    EXPECT_EQ(text_of(1e15), "1000000000000000.0");
    EXPECT_EQ(text_of(-42.0), "-42.0");
}

TEST(FloatText, FractionsInPlainRange) {
    EXPECT_EQ(text_of(1.5), "1.5");
    EXPECT_EQ(text_of(12.25), "12.25");
    EXPECT_EQ(text_of(0.001), "0.001");
    EXPECT_EQ(text_of(0.000015), "0.000015");
    EXPECT_EQ(text_of(0.1), "0.1");
    EXPECT_EQ(text_of(123456789012345.6), "123456789012345.6");
    EXPECT_EQ(text_of(-0.5), "-0.5");
}

TEST(FloatText, ExponentNotationOutsidePlainRange) {
    EXPECT_EQ(text_of(1e16), "1e+16");
    EXPECT_EQ(text_of(1.5e-7), "1.5e-7");
    EXPECT_EQ(text_of(2.5e20), "2.5e+20");
    EXPECT_EQ(text_of(5e-324), "5e-324");
    EXPECT_EQ(text_of(0.0000015), "1.5e-6");
    EXPECT_EQ(text_of(-1.7976931348623157e308), "-1.7976931348623157e+308");
}

TEST(FloatText, ShortestDigitsThatReadBack) {
    EXPECT_EQ(text_of(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(text_of(1.0 / 3.0), "0.3333333333333333");
}

TEST(FloatText, NotFiniteIsNull) {
    EXPECT_EQ(text_of(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(text_of(-std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(text_of(std::nan("")), "null");
}

}  // namespace
}  // namespace quern::json
