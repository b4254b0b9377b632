// Integer conversion of settings texts: decimal, or hexadecimal behind "0x", nothing else; and
// numbers as the operator reads them.
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/Convert.h"

namespace {

std::optional<int> toInt(const char* text) {
    int v = 0;
    if (!norvix::tryStrToInt(QString::fromUtf8(text), &v)) return std::nullopt;
    return v;
}

TEST(Convert, IntegersAreDecimalOrHexadecimalBehind0x) {
    EXPECT_EQ(toInt(" 42 "), 42);
    EXPECT_EQ(toInt("-7"), -7);
    EXPECT_EQ(toInt("0x1F"), 31);
    EXPECT_EQ(toInt("0X10"), 16);
    EXPECT_EQ(toInt("0x7FFFFFFF"), 2147483647);
    EXPECT_EQ(toInt("-2147483648"), INT32_MIN);
    // The other notations a conversion routine might take are not settings values.
    for (const char* refused : {"$10", "$FF", "0x", "0x-10", "0x+1", "0x 1", "0x80000000", "2147483648",
                                "1.5", "", "abc", "0x1G"}) {
        EXPECT_FALSE(toInt(refused)) << refused;
    }
    EXPECT_THROW(norvix::strToInt(QStringLiteral("$10")), norvix::ConversionError);
}

// What windows and printed pages show: a decimal comma, no negative zero, rounding half away
// from zero, thousands grouped only when asked.
TEST(Convert, NumbersForTheOperatorInPortuguese) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int places;
        bool grouped;
        const char* text;
    } cases[] = {{-0.004, 2, false, "0,00"}, {-0.0, 2, false, "0,00"}, {-0.006, 2, false, "-0,01"},
                 {47.465, 2, false, "47,47"}, {-1.5, 2, false, "-1,50"}, {6.0, 1, false, "6,0"},
                 {-0.04, 1, false, "0,0"}, {99.999, 2, false, "100,00"}, {1234567.891, 2, false, "1234567,89"},
                 {1234567.891, 2, true, "1.234.567,89"}, {-1234.5, 2, true, "-1.234,50"}, {999.5, 0, true, "1.000"},
                 {-0.4, 0, false, "0"}, {0.15, 3, false, "0,150"}, {nan, 2, false, "\u2014"}, {inf, 2, false, "\u2014"}};
    for (const auto& c : cases)
        EXPECT_EQ(norvix::textoDecimal(c.value, c.places, c.grouped), QString::fromUtf8(c.text)) << c.value;
}

}  // namespace
