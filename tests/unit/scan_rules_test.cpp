// The subtle rules of scanning: request syntax, version text, escaping,
// the report block's exact lines and the host callback's answers.
#include "base/log_output.h"
#include "base/memory.h"
#include "host/probe_threads.h"
#include "host/vst2_host_callback.h"
#include "machines.h"
#include "output_capture.h"
#include "scan/report_lines.h"
#include "scan/vst2_probe.h"
#include "scan/vst2_report.h"
#include <gtest/gtest.h>

using testsupport::PlatformLine;

namespace {

std::string Utf8(const wchar_t* text)
{
    CSharedStringA bytes = ToUtf8(text);
    return bytes.IsNull() ? std::string("<null>") : std::string(bytes.Chars());
}

struct Split
{
    std::string path;
    uint32_t id;
};

// The host callback logs only inside a probe.
struct ProbeScope
{
    ProbeScope() { BeginProbe(); }
    ~ProbeScope() { EndProbe(); }
};

Split SplitOf(const wchar_t* request)
{
    uint32_t id = 0xDEADBEEF;
    CSharedString path = SplitVst2Request(request, &id);
    return {Utf8(path), id};
}

TEST(RequestSyntax, PathAndHexId)
{
    Split s = SplitOf(L"C:\\x\\Shell.dll>1A2b");
    EXPECT_EQ(s.path, "C:\\x\\Shell.dll");
    EXPECT_EQ(s.id, 0x1A2Bu);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll").path, "C:\\x\\A.dll");
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll").id, 0u);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll>").id, 0u);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll>zz").id, 0u);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll>zz").path, "C:\\x\\A.dll");
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll>123456789").id, 0x23456789u);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll>12 34").id, 0x12u);
    Split twice = SplitOf(L"C:\\x\\A.dll>12>34");
    EXPECT_EQ(twice.path, "C:\\x\\A.dll");
    EXPECT_EQ(twice.id, 0x12u);
    Split bare = SplitOf(L">5");
    EXPECT_EQ(bare.path, "");
    EXPECT_EQ(bare.id, 5u);
    EXPECT_EQ(SplitOf(L"C:\\x\\A.dll\r").path, "C:\\x\\A.dll\r");
    Split cr = SplitOf(L"C:\\x\\A.dll>ff\r");
    EXPECT_EQ(cr.path, "C:\\x\\A.dll");
    EXPECT_EQ(cr.id, 0xFFu);
    EXPECT_EQ(SplitOf(L"a>FFFFFFFF").id, 0xFFFFFFFFu);
}

TEST(VersionText, BordersOfEveryBranch)
{
    struct
    {
        int32_t value;
        const char* text;
    } cases[] = {
        {0, ""},          {1, "1.0.0.0"},        {9, "9.0.0.0"},         {-1, "-1.0.0.0"},
        {10, "0.0.1.0"},  {1234, "1.2.3.4"},     {9999, "9.9.9.9"},      {10000, "1.0.0.0"},
        {12345, "1.2.3.4"}, {65535, "6.5.5.3"},  {65536, "1.0.0.0"},     {0x010203, "1.2.3.0"},
        {6619135, "100.255.255.0"},              {6619136, "0.66.19.136"}, {10203004, "1.2.3.4"},
        {INT32_MIN, "-2147483648.0.0.0"},
    };
    for (const auto& c : cases)
    {
        CSharedString text = Vst2VersionToString(c.value);
        ASSERT_FALSE(text.IsNull()) << c.value;
        EXPECT_EQ(Utf8(text), c.text) << c.value;
    }
}

TEST(Escaping, EveryRowOfTheTable)
{
    EXPECT_EQ(Utf8(EscapeJson(L"a\"b\\c/d")), "a\\\"b\\\\c\\/d");
    EXPECT_EQ(Utf8(EscapeJson(L"\b\f\n\r\t")), "\\b\\f\\n\\r\\t");
    EXPECT_EQ(Utf8(EscapeJson(L"\x0b\x1f\x7f\xe9")), "\\u000b\\u001f\\u007f\\u00e9");
    EXPECT_EQ(Utf8(EscapeJson(L"\x00c3\x00a9")), "\\u00c3\\u00a9");
    EXPECT_EQ(Utf8(EscapeJson(L"\xd83d\xde00")), "\\ud83d\\ude00");
    EXPECT_EQ(Utf8(EscapeJson(L" ~")), " ~");
    EXPECT_EQ(Utf8(EscapeJson(L"\\u0041")), "\\\\u0041"); // nothing is read as an escape
    CSharedString fromNull = EscapeJson(nullptr);
    EXPECT_FALSE(fromNull.IsNull());
    EXPECT_EQ(fromNull.Length(), 0);
    EXPECT_FALSE(EscapeJson(L"").IsNull());
}

const char* InitialBlockHead = ">:{\n"
                               ">:  \"id\":        \"00000000\",\n"
                               ">:  \"name\":      \"\",\n"
                               ">:  \"vendor\":    \"\",\n"
                               ">:  \"product\":   \"\",\n"
                               ">:  \"version\":   \"\",\n";

TEST(ReportBlock, FailedLoadPrintsInitialValues)
{
    OutputCapture out;
    CVst2PluginInfo info;
    info.error.Assign(L"Failed to load library, err=126", 31);
    WriteVst2Report(info);
    EXPECT_EQ(out.Take(), std::string(InitialBlockHead) +
                              ">:  \"error\":     \"Failed to load library, err=126\",\n"
                              ">:  \"numInputs\": 0,\n"
                              ">:  \"numOutputs\":0,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  -1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n");
}

TEST(ReportBlock, ShellObjectOnlyForCategoryTen)
{
    OutputCapture out;
    CVst2PluginInfo info;
    info.id = -1;
    info.numInputs = -2;
    info.category = 10;
    info.wantsMidi = info.sendsMidi = info.audio64 = info.synthEdit = true;
    info.name.Assign(L"N", 1);
    info.version = CSharedString(L"", 0);
    int32_t ids[] = {1, (int32_t)0xABCDEF01};
    for (int32_t id : ids)
    {
        CShellInfo* shell = new CShellInfo;
        shell->id = id;
        shell->name = Format(L"S\"%i", id & 0xF);
        ASSERT_TRUE(info.shells.Append(shell));
    }
    WriteVst2Report(info);
    EXPECT_EQ(out.Take(), ">:{\n"
                          ">:  \"id\":        \"FFFFFFFF\",\n"
                          ">:  \"name\":      \"N\",\n"
                          ">:  \"vendor\":    \"\",\n"
                          ">:  \"product\":   \"\",\n"
                          ">:  \"version\":   \"\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": -2,\n"
                          ">:  \"numOutputs\":0,\n"
                          ">:  \"wantsMidi\":  true,\n"
                          ">:  \"sendsMidi\": true,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   true,\n"
                          ">:  \"category\":  10,\n"
                          ">:  \"synthEdit\": true,\n"
                          ">:  \"shells\": {\n"
                          ">:        \"00000001\": \"S\\\"1\",\n"
                          ">:        \"ABCDEF01\": \"S\\\"1\",\n"
                          ">:  },\n"
                          ">:}\n");

    info.category = 2; // entries in the vector, but no shells object
    WriteVst2Report(info);
    std::string other = out.Take();
    EXPECT_EQ(other.find("shells"), std::string::npos);
    EXPECT_NE(other.find(">:  \"category\":  2,\n>:  \"synthEdit\": true,\n>:}\n"), std::string::npos);

    CVst2PluginInfo empty;
    empty.category = 10;
    WriteVst2Report(empty);
    EXPECT_NE(out.Take().find(">:  \"shells\": {\n>:  },\n>:}\n"), std::string::npos);
}

TEST(HostCallback, FixedAnswersAndLogLines)
{
    OutputCapture out;
    ProbeScope probe;
    EXPECT_EQ(Vst2HostCallback(nullptr, 1, 0, 0, nullptr, 0), 2400);
    EXPECT_EQ(out.Take(), "info:Audio master callback: 1 - audioMasterVersion\n");
    EXPECT_EQ(Vst2HostCallback(nullptr, 16, 0, 0, nullptr, 0), 44100);
    EXPECT_EQ(Vst2HostCallback(nullptr, 17, 0, 0, nullptr, 0), 512);
    EXPECT_EQ(Vst2HostCallback(nullptr, 23, 0, 0, nullptr, 0), 4);
    EXPECT_EQ(Vst2HostCallback(nullptr, 34, 0, 0, nullptr, 0), 3);
    EXPECT_EQ(Vst2HostCallback(nullptr, 14, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(Vst2HostCallback(nullptr, 0, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(out.Take(), "info:Audio master callback: 16 - audioMasterGetSampleRate\n"
                          "info:Audio master callback: 17 - audioMasterGetBlockSize\n"
                          "info:Audio master callback: 23 - audioMasterGetCurrentProcessLevel\n"
                          "info:Audio master callback: 34 - audioMasterGetVendorVersion\n"
                          "info:Audio master callback: 14 - audioMasterNeedIdle\n"
                          "info:Audio master callback: 0 - audioMasterAutomate\n");
}

TEST(HostCallback, UnknownAndUnansweredOpcodesWarn)
{
    OutputCapture out;
    ProbeScope probe;
    for (int32_t opcode : {5, -1, 1000})
    {
        EXPECT_EQ(Vst2HostCallback(nullptr, opcode, 0, 0, nullptr, 0), 0);
        EXPECT_EQ(out.Take(), "info:Audio master callback: " + std::to_string(opcode) +
                                  " - <unknown>\nwarn:Unhandled audioMaster opCode - " +
                                  std::to_string(opcode) + "\n");
    }
    EXPECT_EQ(Vst2HostCallback(nullptr, 31, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(out.Take(), "info:Audio master callback: 31 - audioMasterGetOutputSpeakerArrangement\n"
                          "warn:Unhandled audioMaster opCode - 31\n");
    EXPECT_EQ(Vst2HostCallback(nullptr, 7, 0, 0, nullptr, 0), 0); // no time info, ever
    EXPECT_EQ(out.Take(), "info:Audio master callback: 7 - audioMasterGetTime\n"
                          "warn:Unhandled audioMaster opCode - 7\n");
    int named = 0;
    for (int32_t opcode = 0; opcode <= 49; opcode++)
        named += Vst2HostOpcodeName(opcode) != nullptr;
    EXPECT_EQ(named, 49);
    EXPECT_STREQ(Vst2HostOpcodeName(49), "audioMasterGetInputSpeakerArrangement");
}

TEST(HostCallback, CanDoFoldsAsciiCaseOnly)
{
    OutputCapture out;
    ProbeScope probe;
    char query[] = "sendVstEvents";
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, query, 0), 1);
    EXPECT_EQ(out.Take(), "info:Query host can do: 'sendVstEvents'\n");
    EXPECT_EQ(Vst2HostCanDo("SENDVSTEVENTS"), 1);
    EXPECT_EQ(Vst2HostCanDo("shellcategory"), 1);
    EXPECT_EQ(Vst2HostCanDo("sendVstMidiEventFlagIsRealtime"), 1);
    EXPECT_EQ(Vst2HostCanDo("sendVstEvent"), 0);
    EXPECT_EQ(Vst2HostCanDo("sendVstEventsX"), 0);
    EXPECT_EQ(Vst2HostCanDo(""), 0);
    EXPECT_EQ(Vst2HostCanDo("openFileSelector"), 0);
    EXPECT_EQ(Vst2HostCanDo("s\xc5ndVstEvents"), 0);
    // A null text is neither read nor matched.
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(out.Take(), "info:Query host can do: '(null)'\n");
}

TEST(HostCallback, CanDoTextWithLineBreaksIsLoggedEscapedAndMatchedAsItIs)
{
    ProbeScope probe;
    OutputCapture out;
    char withLineFeed[] = "sendVstEvents\n";
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, withLineFeed, 0), 0);
    EXPECT_EQ(out.Take(), "info:Query host can do: 'sendVstEvents\\n'\n");
    char forged[] = "x'\r\nready:\r\n";
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, forged, 0), 0);
    EXPECT_EQ(out.Take(), "info:Query host can do: 'x'\\r\\nready:\\r\\n'\n");
}

TEST(HostCallback, CanDoWithoutMemoryForTheLineStillAnswers)
{
    OutputCapture out;
    long live = MemLiveBlocks();
    char query[] = "sendVstEvents";
    MemFailNth(1);
    EXPECT_EQ(Vst2HostCallback(nullptr, 37, 0, 0, query, 0), 1);
    MemFailNth(0);
    EXPECT_EQ(out.Take(), "");
    EXPECT_EQ(MemLiveBlocks(), live);
}

TEST(HostCallback, StringsFillTheAbiBufferExactly)
{
    OutputCapture out;
    ProbeScope probe;
    char buffer[64];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Vst2HostCallback(nullptr, 32, 0, 0, buffer, 0), 1);
    EXPECT_EQ(std::string(buffer, 17), std::string("Zandrel Software\0", 17));
    EXPECT_EQ(buffer[17], 'x');
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Vst2HostCallback(nullptr, 33, 0, 0, buffer, 0), 1);
    EXPECT_EQ(std::string(buffer, 8), std::string("Orvanta\0", 8));
    EXPECT_EQ(buffer[8], 'x');
    // No buffer: nothing written, answer 0.
    EXPECT_EQ(Vst2HostCallback(nullptr, 32, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(Vst2HostCallback(nullptr, 33, 0, 0, nullptr, 0), 0);
}

TEST(HostCallback, CurrentIdWidensWithSignAndWantMidiSetsFlag)
{
    OutputCapture out;
    ProbeScope probe;
    EXPECT_EQ(Vst2HostCallback(nullptr, 2, 0, 0, nullptr, 0), 0);
    CurrentShellId = -1;
    EXPECT_EQ(Vst2HostCallback(nullptr, 2, 0, 0, nullptr, 0), (intptr_t)-1);
    CurrentShellId = 0x1A2B;
    EXPECT_EQ(Vst2HostCallback(nullptr, 2, 0, 0, nullptr, 0), 0x1A2B);
    CurrentShellId = 0;
    Vst2PluginWantsMidi = false;
    EXPECT_EQ(Vst2HostCallback(nullptr, 6, 0, 0, nullptr, 0), 0);
    EXPECT_TRUE(Vst2PluginWantsMidi);
    Vst2PluginWantsMidi = false;
    std::string lines = out.Take();
    EXPECT_EQ(lines.find("warn:"), std::string::npos);
}

} // namespace
