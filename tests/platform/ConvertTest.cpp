// Integer conversion of settings texts: decimal, or hexadecimal behind "0x", nothing else.
#include <gtest/gtest.h>
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

}  // namespace
