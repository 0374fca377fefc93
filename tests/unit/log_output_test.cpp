// Exact bytes of tagged output lines.
#include "base/log_output.h"
#include "base/memory.h"
#include "fault_injection.h"
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
    int failures = FailEachAllocationInTurn([] { LogInfo(L"value %i\n", 42); },
                                            [&](const FailureRun& run) {
                                                EXPECT_EQ(out.Take(), run.refused ? "" : "info:value 42\n")
                                                    << "allocation " << run.n;
                                                EXPECT_EQ(MemLiveBlocks(), run.liveBefore);
                                            });
    EXPECT_GE(failures, 4); // tag, formatted text, UTF-8 text, growth of the line
}

TEST(LogOutput, LineThatCannotBeAppendedLeavesTheLinesAsTheyWere)
{
    CSharedStringA lines(">:{\n", 4);
    bool added = false;
    int failures = FailEachAllocationInTurn(
        [&] { added = AppendTaggedLine(lines, ">", L"  \"id\":        \"%.8X\",\n", 0x536D4566); },
        [&](const FailureRun& run) {
            if (run.refused)
            {
                EXPECT_FALSE(added) << "allocation " << run.n;
                EXPECT_STREQ(lines, ">:{\n") << "allocation " << run.n;
                EXPECT_EQ(MemLiveBlocks(), run.liveBefore);
            }
        });
    EXPECT_TRUE(added);
    EXPECT_STREQ(lines, ">:{\n>:  \"id\":        \"536D4566\",\n");
    EXPECT_GE(failures, 5); // the four of a line and the growth of the lines
}

TEST(LogOutput, WriteLinesWritesEveryLineWhole)
{
    OutputCapture out;
    const char bytes[] = "error:E\n>:{\n>:}\n";
    WriteLines(bytes, 6); // a part of a line goes out as it is
    EXPECT_EQ(out.Take(), "error:");
    WriteLines(bytes, (int)sizeof bytes - 1);
    EXPECT_EQ(out.Take(), "error:E\n>:{\n>:}\n");
}

TEST(LogOutput, FixedLineNeedsNoMemory)
{
    OutputCapture out;
    MemFailFrom(1);
    long refusals = MemRefusals();
    WriteFixedLine("error:", "Out of memory while reading the request", "\n");
    WriteFixedLine(">:}\n");
    EXPECT_EQ(MemRefusals(), refusals); // nothing was even asked for
    MemFailNth(0);
    EXPECT_EQ(out.Take(), "error:Out of memory while reading the request\n>:}\n");
}

TEST(LogOutput, FixedLineIsCutAt256Bytes)
{
    OutputCapture out;
    std::string longText(300, 'x');
    WriteFixedLine("info:", longText.c_str(), "\n");
    EXPECT_EQ(out.Take(), "info:" + std::string(251, 'x'));
}

} // namespace
