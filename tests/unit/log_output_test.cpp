// Exact bytes of tagged output lines.
#include "base/log_output.h"
#include "base/memory.h"
#include "output_capture.h"
#include <gtest/gtest.h>

namespace {

TEST(LogOutput, TagsColonAndTextExactly)
{
    OutputCapture out;
    LogInfo(L"Finished\n");
    EXPECT_EQ(out.Take(), "info:Finished\n");
    LogReport(L"{\n");
    EXPECT_EQ(out.Take(), ">:{\n");
    LogError(L"%s\n", L"Failed to load library, err=126");
    EXPECT_EQ(out.Take(), "error:Failed to load library, err=126\n");
    LogWarn(L"Unhandled audioMaster opCode - %i\n", -1);
    EXPECT_EQ(out.Take(), "warn:Unhandled audioMaster opCode - -1\n");
}

TEST(LogOutput, NonAsciiGoesOutAsUtf8)
{
    OutputCapture out;
    LogInfo(L"Scanning plugin: '%s'\n", L"C:\\Pl\u00fcgins\\\u4e2d.dll");
    EXPECT_EQ(out.Take(), "info:Scanning plugin: 'C:\\Pl\xc3\xbcgins\\\xe4\xb8\xad.dll'\n");
}

TEST(LogOutput, NullArgumentsPrintAsNull)
{
    OutputCapture out;
    LogInfo(L"%s|%S\n", (const wchar_t*)nullptr, (const char*)nullptr);
    EXPECT_EQ(out.Take(), "info:(null)|(null)\n");
}

TEST(LogOutput, PluginTextWithLineFeedGoesOutUnchanged)
{
    OutputCapture out;
    LogInfo(L"Found shell: %.8X - %S\n", 5, "two\nlines");
    EXPECT_EQ(out.Take(), "info:Found shell: 00000005 - two\nlines\n");
}

TEST(LogOutput, NoOutputHandleWritesNothingAndFailsNothing)
{
    HANDLE saved = OutputHandle;
    long live = MemLiveBlocks();
    OutputHandle = nullptr;
    LogInfo(L"nowhere\n");
    OutputHandle = INVALID_HANDLE_VALUE;
    LogReport(L"nowhere\n");
    OutputHandle = saved;
    EXPECT_EQ(MemLiveBlocks(), live); // the failed write still frees the line
}

// Out of memory at any allocation of a line drops the whole line: the host
// never gets a line without its tag or its end.
TEST(LogOutput, OutOfMemoryDropsTheWholeLine)
{
    OutputCapture out;
    long live = MemLiveBlocks();
    int failures = 0;
    for (int n = 1; n < 20; n++)
    {
        MemFailNth(n);
        LogInfo(L"value %i\n", 42);
        MemFailNth(0);
        std::string got = out.Take();
        EXPECT_EQ(MemLiveBlocks(), live) << "allocation " << n;
        if (got.empty())
        {
            failures++;
            continue;
        }
        EXPECT_EQ(got, "info:value 42\n") << "allocation " << n;
        break;
    }
    EXPECT_GE(failures, 4); // tag, formatted text, UTF-8 text, growth of the line
}

} // namespace
