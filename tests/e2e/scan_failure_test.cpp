// Modules that are not plugins, plugins that fail the probe, and files
// that cannot be loaded: each gets its error line and a full report, the
// module is freed, and the server goes on with the next request.
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanFailure : public ScanTest
{
};

// Loaded, refused by the probe, freed: the error line, then the block.
std::string RefusedAnswer(const std::string& path, const std::string& probeLines, const std::string& error,
                          const std::string& block)
{
    return LoadLines(path) + probeLines + FreeLines() + error + block + Ready;
}

TEST_F(ScanFailure, ModulesWithoutAUsableEntryPoint)
{
    {
        SCOPED_TRACE("bridge");
        std::wstring dll = Plugin("Bridge", "name=Bridged\ncategory=1\n", L"TestPluginJBridge");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), Info("Looking for entry point in module " + Handle(dll)),
                                        "error:Module is a jBridge bootstrap, ignoring\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"\",\n"
                                        ">:  \"error\":     \"Module is a jBridge bootstrap, ignoring\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
        // Neither the bridge export nor the entry point was called.
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\ndetach\n");
    }
    {
        SCOPED_TRACE("no entry point");
        std::wstring dll = Plugin("NoEntry", "name=Nothing\ncategory=1\n", L"TestPluginNoEntry");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), Info("Looking for entry point in module " + Handle(dll)),
                                        "error:Entry point not found, not a VST plugin\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"\",\n"
                                        ">:  \"error\":     \"Entry point not found, not a VST plugin\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\ndetach\n");
    }
    {
        SCOPED_TRACE("only main");
        std::wstring dll = Plugin("OldStyle", "name=Old Style\ncategory=1\ninputs=1\noutputs=1\n",
                                  L"TestPluginMainOnly");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll), true) + CloseAndFreeLines() +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"Old Style\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"\",\n"
                              ">:  \"numInputs\": 1,\n"
                              ">:  \"numOutputs\":1,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" +
                              Ready);
    }
}

TEST_F(ScanFailure, EntryPointThatFails)
{
    {
        SCOPED_TRACE("NULL");
        std::wstring dll = Plugin("Null", "entry=null\nname=X\ncategory=1\n");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)),
                                        "error:Entry point returned NULL\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"\",\n"
                                        ">:  \"error\":     \"Entry point returned NULL\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
        // Nothing is asked and no effClose is sent.
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndetach\n");
    }
    {
        SCOPED_TRACE("bad magic, with the SynthEdit resource");
        std::wstring dll = Plugin("BadMagic", "magic=0x50747356\nname=X\nid=7\ncategory=1\n", L"TestPluginSynthEdit");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)),
                                        "error:Bad magic\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"\",\n"
                                        ">:  \"error\":     \"Bad magic\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndetach\n");
    }
    {
        SCOPED_TRACE("NULL after calling back");
        std::wstring dll = Plugin("NullAfterCall", "entry=null\ncall=1\n");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)) + CallbackLine(1, "audioMasterVersion"),
                                        "error:Entry point returned NULL\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"\",\n"
                                        ">:  \"error\":     \"Entry point returned NULL\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
    }
}

TEST_F(ScanFailure, FailedProbeStillReportsTheFileVersion)
{
    {
        SCOPED_TRACE("bad magic, product version");
        std::wstring dll = Plugin("Versioned", "magic=0\n", L"TestPluginVersionProduct");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)),
                                        "error:Bad magic\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"65535.2.40000.4\",\n"
                                        ">:  \"error\":     \"Bad magic\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
    }
    {
        SCOPED_TRACE("NULL, file version");
        std::wstring dll = Plugin("FileVersioned", "entry=null\n", L"TestPluginVersionFile");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)),
                                        "error:Entry point returned NULL\n",
                                        ">:{\n"
                                        ">:  \"id\":        \"00000000\",\n"
                                        ">:  \"name\":      \"\",\n"
                                        ">:  \"vendor\":    \"\",\n"
                                        ">:  \"product\":   \"\",\n"
                                        ">:  \"version\":   \"5.6.7.8\",\n"
                                        ">:  \"error\":     \"Entry point returned NULL\",\n"
                                        ">:  \"numInputs\": 0,\n"
                                        ">:  \"numOutputs\":0,\n"
                                        ">:  \"wantsMidi\":  false,\n"
                                        ">:  \"sendsMidi\": false,\n"
                                        + PlatformLine() +
                                        ">:  \"audio64\":   false,\n"
                                        ">:  \"category\":  -1,\n"
                                        ">:  \"synthEdit\": false,\n"
                                        ">:}\n"));
    }
}

TEST_F(ScanFailure, FilesThatCannotBeLoaded)
{
    {
        SCOPED_TRACE("missing");
        std::string path = Utf8(folder / L"Missing.dll");
        std::string answer = Scan(path);
        EXPECT_EQ(answer, LoadLines(path) + "error:Failed to load library, err=126\n" +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"Failed to load library, err=126\",\n"
                              ">:  \"numInputs\": 0,\n"
                              ">:  \"numOutputs\":0,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  -1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" +
                              Ready);
    }
    {
        SCOPED_TRACE("text file");
        std::wstring text = folder / L"Text.dll";
        HANDLE file = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, "not a module\r\n", 14, &written, nullptr);
        CloseHandle(file);
        std::string answer = Scan(text);
        EXPECT_EQ(answer, LoadLines(Utf8(text)) + "error:Failed to load library, err=193\n" +
                              ">:{\n"
                              ">:  \"id\":        \"00000000\",\n"
                              ">:  \"name\":      \"\",\n"
                              ">:  \"vendor\":    \"\",\n"
                              ">:  \"product\":   \"\",\n"
                              ">:  \"version\":   \"\",\n"
                              ">:  \"error\":     \"Failed to load library, err=193\",\n"
                              ">:  \"numInputs\": 0,\n"
                              ">:  \"numOutputs\":0,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   false,\n"
                              ">:  \"category\":  -1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:}\n" +
                              Ready);
    }
    {
        SCOPED_TRACE("a plugin after the failures");
        std::wstring dll = Plugin("Fine", "name=Fine\ncategory=1\n");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                           ">:  \"id\":        \"00000000\",\n"
                                           ">:  \"name\":      \"Fine\",\n"
                                           ">:  \"vendor\":    \"\",\n"
                                           ">:  \"product\":   \"\",\n"
                                           ">:  \"version\":   \"\",\n"
                                           ">:  \"error\":     \"\",\n"
                                           ">:  \"numInputs\": 0,\n"
                                           ">:  \"numOutputs\":0,\n"
                                           ">:  \"wantsMidi\":  false,\n"
                                           ">:  \"sendsMidi\": false,\n"
                                           + PlatformLine() +
                                           ">:  \"audio64\":   false,\n"
                                           ">:  \"category\":  1,\n"
                                           ">:  \"synthEdit\": false,\n"
                                           ">:}\n"));
    }
}

TEST_F(ScanFailure, CrashInsideEffCloseStillGivesTheFullReport)
{
    std::wstring dll = Plugin("CloseCrash", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                            "outputs=2\ncategory=1\nvendorversion=3\n");
    std::wstring crash = Plugin("CloseCrash2", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                               "outputs=2\ncategory=1\nvendorversion=3\ncrashonclose=1\n");
    const std::string block =
        ">:{\n"
        ">:  \"id\":        \"43726153\",\n"
        ">:  \"name\":      \"Crasher\",\n"
        ">:  \"vendor\":    \"V\",\n"
        ">:  \"product\":   \"P\",\n"
        ">:  \"version\":   \"3.0.0.0\",\n"
        ">:  \"error\":     \"\",\n"
        ">:  \"numInputs\": 2,\n"
        ">:  \"numOutputs\":2,\n"
        ">:  \"wantsMidi\":  false,\n"
        ">:  \"sendsMidi\": false,\n"
        + PlatformLine() +
        ">:  \"audio64\":   false,\n"
        ">:  \"category\":  1,\n"
        ">:  \"synthEdit\": false,\n"
        ">:}\n";

    std::string answer = Scan(crash);
    EXPECT_EQ(answer, PlainAnswer(crash, block));
    // The module is freed after the crash like any other.
    std::string events = Events(crash);
    EXPECT_TRUE(EndsWith(events, "disp 49\ndisp 1\ndetach\n")) << events;

    // Twice, to show the process is whole after the first.
    std::wstring again = Plugin("CloseCrash3", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                               "outputs=2\ncategory=1\nvendorversion=3\ncrashonclose=1\n");
    std::string answerAgain = Scan(again);
    EXPECT_EQ(answerAgain, PlainAnswer(again, block));
    std::string plain = Scan(dll);
    EXPECT_EQ(plain, PlainAnswer(dll, block));
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
