// The texts the library hands over: IDs, and dialogs as a user reads them
// in the progress line, the summary and an entry's error alike.
#include <orvanta/scan.h>
#include <orvanta/text.h>
#include <gtest/gtest.h>

using namespace orvanta;

TEST(Text, IdsAreEightUpperCaseHexadecimalDigitsBothWays)
{
    EXPECT_EQ(HexId(0x536D4566), "536D4566");
    EXPECT_EQ(HexId(0xF), "0000000F");
    uint32_t id = 7;
    EXPECT_TRUE(ParseHexId("c0000005", &id));
    EXPECT_EQ(id, 0xC0000005u);
    for (const char* bad : {"", "1234567", "123456789", "0x123456", "1234567G", " 1234567"})
    {
        id = 7;
        EXPECT_FALSE(ParseHexId(bad, &id)) << bad;
        EXPECT_EQ(id, 7u) << bad;
    }
}

TEST(Text, DialogTextShowsTitleAndMessageOfEveryWindowOnOneLine)
{
    EXPECT_EQ(DialogText({{"Licence check", "Please insert your dongle"}}),
              "'Licence check: Please insert your dongle'");
    EXPECT_EQ(DialogText({{"Setup", "First line\r\nSecond line"}, {"", "No title"}, {"Bare", ""}}),
              "'Setup: First line  Second line', 'No title', 'Bare'");
    EXPECT_EQ(DialogText({{"", ""}}), "'(untitled window)'");
    EXPECT_EQ(DialogText({}), "");
}

TEST(Text, Utf16AndUtf8RoundTripAndBadBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(ToUtf8(L"C:\\Plug-ins\\Ärger 音.dll"), "C:\\Plug-ins\\\xC3\x84rger \xE9\x9F\xB3.dll");
    EXPECT_EQ(ToWide("C:\\Plug-ins\\\xC3\x84rger \xE9\x9F\xB3.dll"), L"C:\\Plug-ins\\Ärger 音.dll");
    EXPECT_EQ(ToWide("a\xFF" "b"), L"a\xFFFD" L"b");
}
