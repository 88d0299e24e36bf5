#include <quorrel/Text.hpp>

#include <gtest/gtest.h>

using namespace tav;

TEST(Text, BlankMeansTheFiveBlankCharactersOnly) {
    for (char c : std::string(" \t\r\n\f"))
        EXPECT_TRUE(IsEmpty(c)) << int(c);
    EXPECT_FALSE(IsEmpty('\v'));
    EXPECT_FALSE(IsEmpty('\0'));
    EXPECT_TRUE(IsBlank(""));
    EXPECT_TRUE(IsBlank(" \t\r\n\f"));
    EXPECT_FALSE(IsBlank(" \v "));
    EXPECT_EQ(TrimBlanks(" \r\n 60 \t\f"), "60");
    EXPECT_EQ(TrimBlanks("\v a b \v"), "\v a b \v");
    EXPECT_EQ(TrimBlanks(" \n "), "");
}

TEST(Text, ReadsIntegersLikeStrtolWithAnEmptyMarker) {
    EXPECT_EQ(ToInt(""), EMPTY_VALUE);
    EXPECT_EQ(ToInt(" \n"), EMPTY_VALUE);
    EXPECT_EQ(ToInt("abc"), 0);
    EXPECT_EQ(ToInt(" 42xyz"), 42);
    EXPECT_EQ(ToInt("-17"), -17);
    EXPECT_EQ(ToInt("99999999999"), INT32_MAX);
    EXPECT_EQ(ToInt("-99999999999"), INT32_MIN);
    EXPECT_EQ(ToInt("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(ToInt("8001", 16), 0x8001);
    EXPECT_EQ(ToInt("0x1F", 16), 0x1f);
    EXPECT_EQ(ToInt("zz", 16), 0);
    EXPECT_EQ(ToInt("ffffffff", 16), -1);
    EXPECT_EQ(ToInt("100000000", 16), INT32_MAX);
}

TEST(Text, WritesIntegersAndTheMarkerAsEmptyText) {
    EXPECT_EQ(ToString(EMPTY_VALUE), "");
    EXPECT_EQ(ToString(EMPTY_VALUE, 16), "");
    EXPECT_EQ(ToString(0), "0");
    EXPECT_EQ(ToString(-1440), "-1440");
    EXPECT_EQ(ToString(INT32_MAX), "2147483647");
    EXPECT_EQ(ToString(0, 16), "0");
    EXPECT_EQ(ToString(0xbeef, 16), "beef");
    EXPECT_EQ(ToString(-1, 16), "ffffffff");
    EXPECT_EQ(ToString(-2, 16), "fffffffe");
}

TEST(Text, EveryWrittenValueReadsBack) {
    for (std::int32_t value : {0, 1, -1, 100, 0x7fff, INT32_MAX, INT32_MIN + 1, EMPTY_VALUE, -0x10000})
        for (int radix : {10, 16})
            EXPECT_EQ(ToInt(ToString(value, radix), radix), value) << value << " in radix " << radix;
}

TEST(Text, IPAddressesNeedFourDigitParts) {
    for (const char* good : {"192.168.0.1", "300.1.1.1", "01.2.3.4", "0.0.0.0"})
        EXPECT_TRUE(IsIPAddress(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.x", "1.2.3.4.", ".1.2.3", "1..2.3", "1.2.3.4.5", "1. 2.3.4",
                            " 1.2.3.4", "1.2.3.-4", "...", "1.2.3.4 "})
        EXPECT_FALSE(IsIPAddress(bad)) << bad;
}
