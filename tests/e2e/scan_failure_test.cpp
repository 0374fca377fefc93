// Modules that are not plugins, plugins that fail the probe, and files
// that cannot be loaded: each gets its error line and a full report, the
// module is freed, and the server goes on with the next request.
#include "scan_support.h"

namespace {

class ScanFailure : public ScanTest
{
};

// Loaded, refused by the probe, freed.
std::string RefusedAnswer(const std::string& path, const std::string& probeLines, const Report& r)
{
    return LoadLines(path) + probeLines + FreeLines() + Error(r.error) + ReportBlock(r) + Ready;
}

TEST_F(ScanFailure, ModulesWithoutAUsableEntryPoint)
{
    {
        SCOPED_TRACE("bridge");
        std::wstring dll = Plugin("Bridge", "name=Bridged\ncategory=1\n", L"TestPluginJBridge");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Module is a jBridge bootstrap, ignoring";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), Info("Looking for entry point in module " + Handle(dll)), r));
        // Neither the bridge export nor the entry point was called.
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\ndetach\n");
    }
    {
        SCOPED_TRACE("no entry point");
        std::wstring dll = Plugin("NoEntry", "name=Nothing\ncategory=1\n", L"TestPluginNoEntry");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Entry point not found, not a VST plugin";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), Info("Looking for entry point in module " + Handle(dll)), r));
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\ndetach\n");
    }
    {
        SCOPED_TRACE("only main");
        std::wstring dll = Plugin("OldStyle", "name=Old Style\ncategory=1\ninputs=1\noutputs=1\n",
                                  L"TestPluginMainOnly");
        std::string answer = Scan(dll);
        Report r;
        r.name = "Old Style";
        r.category = 1;
        r.numInputs = 1;
        r.numOutputs = 1;
        EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll), true) + CloseAndFreeLines() +
                              ReportBlock(r) + Ready);
    }
}

TEST_F(ScanFailure, EntryPointThatFails)
{
    {
        SCOPED_TRACE("NULL");
        std::wstring dll = Plugin("Null", "entry=null\nname=X\ncategory=1\n");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Entry point returned NULL";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)), r));
        // Nothing is asked and no effClose is sent.
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndetach\n");
    }
    {
        SCOPED_TRACE("bad magic, with the SynthEdit resource");
        std::wstring dll = Plugin("BadMagic", "magic=0x50747356\nname=X\nid=7\ncategory=1\n", L"TestPluginSynthEdit");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Bad magic";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)), r));
        EXPECT_NE(answer.find(">:  \"synthEdit\": false,\n"), std::string::npos);
        EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\nentry\ndetach\n");
    }
    {
        SCOPED_TRACE("NULL after calling back");
        std::wstring dll = Plugin("NullAfterCall", "entry=null\ncall=1\n");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Entry point returned NULL";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)) + CallbackLine(1, "audioMasterVersion"), r));
    }
}

TEST_F(ScanFailure, FailedProbeStillReportsTheFileVersion)
{
    {
        SCOPED_TRACE("bad magic, product version");
        std::wstring dll = Plugin("Versioned", "magic=0\n", L"TestPluginVersionProduct");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Bad magic";
        r.version = "65535.2.40000.4";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)), r));
    }
    {
        SCOPED_TRACE("NULL, file version");
        std::wstring dll = Plugin("FileVersioned", "entry=null\n", L"TestPluginVersionFile");
        std::string answer = Scan(dll);
        Report r;
        r.error = "Entry point returned NULL";
        r.version = "5.6.7.8";
        EXPECT_EQ(answer, RefusedAnswer(Utf8(dll), EntryLines(Handle(dll)), r));
    }
}

TEST_F(ScanFailure, FilesThatCannotBeLoaded)
{
    {
        SCOPED_TRACE("missing");
        std::string path = Utf8(folder.Path() + L"Missing.dll");
        std::string answer = Scan(path);
        Report r;
        r.error = "Failed to load library, err=126";
        EXPECT_EQ(answer, LoadLines(path) + Error(r.error) + ReportBlock(r) + Ready);
    }
    {
        SCOPED_TRACE("text file");
        std::wstring text = folder.Path() + L"Text.dll";
        HANDLE file = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, "not a module\r\n", 14, &written, nullptr);
        CloseHandle(file);
        std::string answer = Scan(text);
        Report r;
        r.error = "Failed to load library, err=193";
        EXPECT_EQ(answer, LoadLines(Utf8(text)) + Error(r.error) + ReportBlock(r) + Ready);
    }
    {
        SCOPED_TRACE("a plugin after the failures");
        std::wstring dll = Plugin("Fine", "name=Fine\ncategory=1\n");
        std::string answer = Scan(dll);
        Report r;
        r.name = "Fine";
        r.category = 1;
        EXPECT_EQ(answer, PlainAnswer(dll, r));
    }
}

TEST_F(ScanFailure, CrashInsideEffCloseStillGivesTheFullReport)
{
    std::wstring dll = Plugin("CloseCrash", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                            "outputs=2\ncategory=1\nvendorversion=3\n");
    std::wstring crash = Plugin("CloseCrash2", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                               "outputs=2\ncategory=1\nvendorversion=3\ncrashonclose=1\n");
    Report r;
    r.id = 0x43726153;
    r.name = "Crasher";
    r.vendor = "V";
    r.product = "P";
    r.version = "3.0.0.0";
    r.numInputs = 2;
    r.numOutputs = 2;
    r.category = 1;

    std::string answer = Scan(crash);
    EXPECT_EQ(answer, PlainAnswer(crash, r));
    // The module is freed after the crash like any other.
    std::string events = Events(crash);
    EXPECT_TRUE(EndsWith(events, "disp 49\ndisp 1\ndetach\n")) << events;

    // Twice, to show the process is whole after the first.
    std::wstring again = Plugin("CloseCrash3", "name=Crasher\nvendor=V\nproduct=P\nid=0x43726153\ninputs=2\n"
                                               "outputs=2\ncategory=1\nvendorversion=3\ncrashonclose=1\n");
    std::string answerAgain = Scan(again);
    EXPECT_EQ(answerAgain, PlainAnswer(again, r));
    std::string plain = Scan(dll);
    EXPECT_EQ(plain, PlainAnswer(dll, r));
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
