// The hexadecimal rule for the handle arguments.
#include "base/hex_digits.h"
#include <gtest/gtest.h>

TEST(CommandLine, HexadecimalRule)
{
    EXPECT_EQ(ParseHexArgument(L"1a4 "), 420u);
    EXPECT_EQ(ParseHexArgument(L"1A4 "), 420u);
    EXPECT_EQ(ParseHexArgument(L"0x1A4"), 0u);
    EXPECT_EQ(ParseHexArgument(L""), 0u);
    EXPECT_EQ(ParseHexArgument(nullptr), 0u);
    EXPECT_EQ(ParseHexArgument(L"zz"), 0u);
    EXPECT_EQ(ParseHexArgument(L"12g3"), 0x12u);
    EXPECT_EQ(ParseHexArgument(L"123456789ABCDEF01"), 0x23456789ABCDEF01ull);
    EXPECT_EQ(ParseHexArgument(L"FFFFFFFFFFFFFFFF"), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(ParseHexArgument(L"-5"), 0u);
}
