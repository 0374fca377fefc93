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

std::string Escaped(const char* text)
{
    CSharedStringA escaped = EscapeLineBreaks(text);
    return escaped.IsNull() ? std::string("<null>") : std::string(escaped.Chars(), escaped.Length());
}

TEST(EscapeLineBreaks, LineFeedAndCarriageReturnBecomeTwoCharacters)
{
    EXPECT_EQ(Escaped("A\nB"), "A\\nB");
    EXPECT_EQ(Escaped("A\rB"), "A\\rB");
    EXPECT_EQ(Escaped("A\r\nB"), "A\\r\\nB");
    EXPECT_EQ(Escaped("\nready:\n"), "\\nready:\\n");
    EXPECT_EQ(Escaped("\n\n\r"), "\\n\\n\\r");
}

TEST(EscapeLineBreaks, EveryOtherByteStaysAsItIs)
{
    std::string all;
    for (int b = 1; b < 256; b++)
        if (b != 10 && b != 13)
            all += (char)b;
    EXPECT_EQ(Escaped(all.c_str()), all);
    EXPECT_EQ(Escaped("a\\nb"), "a\\nb"); // a backslash and an n are left alone
    EXPECT_EQ(Escaped(""), "");
}

TEST(EscapeLineBreaks, NullTextGivesNull)
{
    EXPECT_TRUE(EscapeLineBreaks(nullptr).IsNull());
}

TEST(EscapeLineBreaks, OutOfMemoryGivesNullAndKeepsNothing)
{
    long live = MemLiveBlocks();
    int failures = 0;
    for (int n = 1; n < 20; n++)
    {
        MemFailNth(n);
        CSharedStringA escaped = EscapeLineBreaks("one\ntwo\rthree and a long tail to make it grow");
        MemFailNth(0);
        if (escaped.IsNull())
        {
            failures++;
            EXPECT_EQ(MemLiveBlocks(), live) << "allocation " << n;
            continue;
        }
        EXPECT_EQ(std::string(escaped.Chars()), "one\\ntwo\\rthree and a long tail to make it grow");
        break;
    }
    EXPECT_GE(failures, 2); // the empty start and at least one growth
    EXPECT_EQ(MemLiveBlocks(), live);
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
        [&] { added = AppendTaggedLine(lines, ">:", L"  \"id\":        \"%.8X\",\n", 0x536D4566); },
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
