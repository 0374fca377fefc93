// The dump file path (leading zeros, the one separator, the fixed buffer)
// and the installation step of the crash filter.
#include "base/memory.h"
#include "crash/crash_dump.h"
#include "machines.h"
#include <gtest/gtest.h>
#include <string>
#include <wchar.h>

namespace {

SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wDayOfWeek = 6; // never printed
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = 999;
    return time;
}

// The path buffer with guard characters behind it, to catch any write past
// its DumpPathCapacity characters.
struct GuardedPath
{
    static const int Guard = 64;
    wchar_t chars[DumpPathCapacity + Guard];

    GuardedPath() { wmemset(chars, L'#', DumpPathCapacity + Guard); }
    bool GuardIntact() const
    {
        for (int i = DumpPathCapacity; i < DumpPathCapacity + Guard; i++)
            if (chars[i] != L'#')
                return false;
        return true;
    }
};

// "\" + "ZiveRivedo-x64" + "-YYYY-MM-DD-HH-MM-SS" + ".mdmp"
const int NameLength = 1 + 14 + 20 + 5;

TEST(DumpPath, LeadingZerosInEveryField)
{
    GuardedPath path;
    ASSERT_TRUE(FormatDumpPath(path.chars, L"D:\\Dumps", L"ZiveRivedo-x64",
                               Time(2027, 1, 2, 9, 5, 3)));
    EXPECT_STREQ(path.chars, L"D:\\Dumps\\ZiveRivedo-x64-2027-01-02-09-05-03.mdmp");

    ASSERT_TRUE(FormatDumpPath(path.chars, L"D:\\Dumps", L"ZiveRivedo-x64",
                               Time(2026, 11, 15, 18, 7, 42)));
    EXPECT_STREQ(path.chars, L"D:\\Dumps\\ZiveRivedo-x64-2026-11-15-18-07-42.mdmp");

    ASSERT_TRUE(FormatDumpPath(path.chars, L"C:\\d", L"ZiveRivedo-x64",
                               Time(2030, 12, 31, 0, 0, 0)));
    EXPECT_STREQ(path.chars, L"C:\\d\\ZiveRivedo-x64-2030-12-31-00-00-00.mdmp");
    EXPECT_TRUE(path.GuardIntact());
}

TEST(DumpPath, YearHasAtLeastFourDigits)
{
    GuardedPath path;
    ASSERT_TRUE(FormatDumpPath(path.chars, L"D:\\Dumps", L"ZiveRivedo-x64",
                               Time(987, 1, 2, 9, 5, 3)));
    EXPECT_STREQ(path.chars, L"D:\\Dumps\\ZiveRivedo-x64-0987-01-02-09-05-03.mdmp");
    ASSERT_TRUE(FormatDumpPath(path.chars, L"D:\\Dumps", L"ZiveRivedo-x64",
                               Time(12345, 1, 2, 9, 5, 3)));
    EXPECT_STREQ(path.chars, L"D:\\Dumps\\ZiveRivedo-x64-12345-01-02-09-05-03.mdmp");
}

TEST(DumpPath, FolderTextIsUsedAsGiven)
{
    GuardedPath path;
    // A trailing backslash is not folded into the separator.
    ASSERT_TRUE(FormatDumpPath(path.chars, L"D:\\Dumps\\", L"ZiveRivedo-x64",
                               Time(2027, 1, 2, 9, 5, 3)));
    EXPECT_STREQ(path.chars, L"D:\\Dumps\\\\ZiveRivedo-x64-2027-01-02-09-05-03.mdmp");
    // Forward slashes, blanks and non-ASCII characters pass unchanged.
    ASSERT_TRUE(FormatDumpPath(path.chars, L"C:/My Dumps/\u00e4\u4e2d", L"ZiveRivedo-x64",
                               Time(2027, 1, 2, 9, 5, 3)));
    EXPECT_STREQ(path.chars, L"C:/My Dumps/\u00e4\u4e2d\\ZiveRivedo-x64-2027-01-02-09-05-03.mdmp");
}

TEST(DumpPath, BufferHoldsTwoHundredFiftyNineCharactersAndTheTerminator)
{
    SYSTEMTIME time = Time(2027, 1, 2, 9, 5, 3);

    GuardedPath fits;
    std::wstring folder = L"C:\\" + std::wstring(DumpPathCapacity - 1 - NameLength - 3, L'f');
    ASSERT_TRUE(FormatDumpPath(fits.chars, folder.c_str(), L"ZiveRivedo-x64", time));
    EXPECT_EQ(wcslen(fits.chars), (size_t)DumpPathCapacity - 1);
    EXPECT_EQ(std::wstring(fits.chars),
              folder + L"\\ZiveRivedo-x64-2027-01-02-09-05-03.mdmp");
    EXPECT_TRUE(fits.GuardIntact());

    // One character more leaves no room for the terminator.
    GuardedPath tooLong;
    folder += L'f';
    EXPECT_FALSE(FormatDumpPath(tooLong.chars, folder.c_str(), L"ZiveRivedo-x64", time));
    EXPECT_TRUE(tooLong.GuardIntact());
    EXPECT_EQ(tooLong.chars[0], L'\0');

    GuardedPath farTooLong;
    std::wstring huge(5000, L'x');
    EXPECT_FALSE(FormatDumpPath(farTooLong.chars, huge.c_str(), L"ZiveRivedo-x64", time));
    EXPECT_TRUE(farTooLong.GuardIntact());
    EXPECT_EQ(farTooLong.chars[0], L'\0');
}

// The filter is put back the way the test found it, so a crash elsewhere in
// this test program is not turned into a silent exit with code 9.
struct CrashFilterInstall : ::testing::Test
{
    LPTOP_LEVEL_EXCEPTION_FILTER saved = nullptr;
    void SetUp() override { saved = SetUnhandledExceptionFilter(nullptr); }
    void TearDown() override { SetUnhandledExceptionFilter(saved); }
};

TEST_F(CrashFilterInstall, SetsBaseNameAndFilterAndReplacesAnEarlierName)
{
    InstallCrashFilter();
    EXPECT_STREQ(DumpBaseName, testsupport::ServerTexts().dumpBaseName);
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), &CrashFilter);

    // Installing again releases the earlier name: no block is left behind.
    SetUnhandledExceptionFilter(saved);
    long before = MemLiveBlocks();
    InstallCrashFilter();
    EXPECT_EQ(MemLiveBlocks(), before);
    EXPECT_STREQ(DumpBaseName, testsupport::ServerTexts().dumpBaseName);

    // A holder of the earlier name keeps it: the new name is a block of its
    // own, not written over the shared one.
    CSharedString keep = DumpBaseName;
    InstallCrashFilter();
    EXPECT_EQ(MemLiveBlocks(), before + 1);
    EXPECT_NE(DumpBaseName.Chars(), keep.Chars());
    EXPECT_STREQ(DumpBaseName, testsupport::ServerTexts().dumpBaseName);
    EXPECT_STREQ(keep, testsupport::ServerTexts().dumpBaseName);
    keep.Release();
    EXPECT_EQ(MemLiveBlocks(), before);
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), &CrashFilter);
}

} // namespace
