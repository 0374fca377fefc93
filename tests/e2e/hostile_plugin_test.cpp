// Plugins that attack the server from where a scan cannot see them: writes
// far past a text buffer, a crash on a thread the plugin left running, and
// a thread that keeps calling the host after its scan. Each runs through
// the real server; the crashes are checked in the dump they leave.
#include "crash_support.h"
#include "scan_support.h"
#include <string>

using namespace testsupport;

namespace {

const wchar_t* OverrunVariable = L"CRASH_FIXTURE_OVERRUN_BYTES";

std::string BlockEnd(int category)
{
    return ">:  \"error\":     \"\",\n"
           ">:  \"numInputs\": 2,\n"
           ">:  \"numOutputs\":2,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           + PlatformLine() +
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  " + std::to_string(category) + ",\n"
           ">:  \"synthEdit\": false,\n";
}

// ------------------------------------------------- writes past a text buffer

// The overrun fixtures write the number of bytes set here into the effect
// name (CrashOverrunName, letter x) or the first sub-plugin name
// (CrashOverrunShell, letter y), without a terminator.
struct TextOverrun : CrashDump
{
    void SetUp() override
    {
        CrashDump::SetUp();
        // The buffer ends at a page; the first byte past it is the first
        // byte of the guard page.
        faultAtPageStart = true;
    }

    void TearDown() override
    {
        SetEnvironmentVariableW(OverrunVariable, nullptr);
        CrashDump::TearDown();
    }

    void Writes(int bytes)
    {
        SetEnvironmentVariableW(OverrunVariable, std::to_wstring(bytes).c_str());
    }

    // The scan goes on to its report; the server stays up and ends with 0.
    void ExpectHeld(const wchar_t* fixture, const std::string& afterEntry,
                    const std::string& atExit)
    {
        ServerProcess server;
        StartServer(server, WithDumps(dumps));
        std::string line = PluginLine(fixture);
        EXPECT_EQ(MaskModuleHandles(server.Request(line)), ScanOpening(line) + afterEntry);
        server.CloseInput();
        EXPECT_EQ(server.ReadToEnd(), atExit);
        EXPECT_EQ(server.WaitExit(), 0u);
        EXPECT_TRUE(ListFolder(dumps).empty());
    }
};

// 512 bytes of slack past the 512 that are read: 600 bytes fit.
TEST_F(TextOverrun, EffectNameOfSixHundredBytesIsHeld)
{
    Writes(600);
    const std::string x512(512, 'x');
    ExpectHeld(L"CrashOverrunName",
               LastWords +
                   "info:Dispatching effClose...\n"
                   "info:Freeing library...\n"
                   "info:Finished\n"
                   ">:{\n"
                   ">:  \"id\":        \"43724378\",\n"
                   ">:  \"name\":      \"" + x512 + "\",\n"
                   ">:  \"vendor\":    \"Crash Fixtures\",\n"
                   ">:  \"product\":   \"Crash Suite\",\n"
                   ">:  \"version\":   \"1.0.0.0\",\n" +
                   BlockEnd(1) +
                   ">:}\n"
                   "ready:\n",
               "");
}

TEST_F(TextOverrun, EffectNameOfElevenHundredBytesEndsInDump)
{
    Writes(1100);
    CrashOnce(L"CrashOverrunName");
}

// Far enough to run over the whole stack frame of the scan: without the
// guard page the crash filter never ran and the exit code was 0.
TEST_F(TextOverrun, EffectNameOfSeventyThousandBytesEndsInDump)
{
    Writes(70000);
    CrashOnce(L"CrashOverrunName");
}

TEST_F(TextOverrun, SubPluginNameOfSixHundredBytesIsHeld)
{
    Writes(600);
    const std::string y512(512, 'y');
    ExpectHeld(L"CrashOverrunShell",
               LastWords + "info:Found shell: 43525331 - " + y512 + "\n" +
                   "info:Dispatching effClose...\n"
                   "info:Keeping shell library loaded for now...\n"
                   "info:Finished\n"
                   ">:{\n"
                   ">:  \"id\":        \"43724378\",\n"
                   ">:  \"name\":      \"Crash Fixture\",\n"
                   ">:  \"vendor\":    \"Crash Fixtures\",\n"
                   ">:  \"product\":   \"Crash Suite\",\n"
                   ">:  \"version\":   \"1.0.0.0\",\n" +
                   BlockEnd(10) +
                   ">:  \"shells\": {\n"
                   ">:        \"43525331\": \"" + y512 + "\",\n"
                   ">:  },\n"
                   ">:}\n"
                   "ready:\n",
               "info:Freeing cached library...\n"
               "info:Freed\n");
}

TEST_F(TextOverrun, SubPluginNameOfElevenHundredBytesEndsInDump)
{
    Writes(1100);
    CrashOnce(L"CrashOverrunShell");
}

TEST_F(TextOverrun, SubPluginNameOfSeventyThousandBytesEndsInDump)
{
    Writes(70000);
    CrashOnce(L"CrashOverrunShell");
}

// ------------------------------------------ a crash on a leftover thread

// CrashLaterOnThread leaves a thread behind that dies 200 ms after
// effClose, while the server has gone on to other requests.
struct LeftoverCrash : CrashDump
{
    void SetUp() override
    {
        CrashDump::SetUp();
        pluginName = L"CrashLaterOnThread";
    }

    void ScanTheLeaver(ServerProcess& server)
    {
        std::string line = PluginLine(L"CrashLaterOnThread");
        ASSERT_EQ(MaskModuleHandles(server.Request(line)),
                  ScanOpening(line) +
                      "info:Dispatching effClose...\n"
                      "info:Freeing library...\n"
                      "info:Finished\n"
                      ">:{\n"
                      ">:  \"id\":        \"43724378\",\n"
                      ">:  \"name\":      \"Crash Fixture\",\n"
                      ">:  \"vendor\":    \"Crash Fixtures\",\n"
                      ">:  \"product\":   \"Crash Suite\",\n"
                      ">:  \"version\":   \"1.0.0.0\",\n" +
                      BlockEnd(1) +
                      ">:}\n"
                      "ready:\n");
    }

    // The filter creates the dump file before DbgHelp starts writing it.
    bool DumpBegun() { return !ListFolder(dumps).empty(); }
};

// The host goes on asking for an innocent plugin. Every answer it gets is
// whole and right, and once the dump has begun the next request gets no
// line at all: the stream stops, the process ends with 9 and its dump.
TEST_F(LeftoverCrash, LaterRequestsGetNoLineOnceTheCrashBegan)
{
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    before = LocalNow();
    ScanTheLeaver(server);
    const std::string good = GoodAnswer();
    bool streamEnded = false;
    int answers = 0;
    while (!DumpBegun())
    {
        ASSERT_LT(answers, 1000) << "the leftover thread never crashed";
        ASSERT_TRUE(server.Write(PluginLine(L"CrashGood") + "\n"));
        bool ready = false;
        std::string answer = MaskModuleHandles(server.ReadUntilReady(DumpTimeout, &ready));
        if (!ready)
        {
            // Stopped inside an answer: only whole lines of it came.
            EXPECT_EQ(good.compare(0, answer.size(), answer), 0) << answer;
            EXPECT_TRUE(answer.empty() || answer.back() == '\n') << answer;
            streamEnded = true;
            break;
        }
        ASSERT_EQ(answer, good) << "answer " << answers + 1;
        answers++;
    }
    if (!streamEnded)
    {
        EXPECT_TRUE(server.Write(PluginLine(L"CrashGood") + "\n"));
        EXPECT_EQ(server.ReadToEnd(DumpTimeout), "");
    }
    EXPECT_EQ(server.WaitExit(DumpTimeout), CrashExit);
    after = LocalNow();
    ExpectOneDump(dumps);
}

// The host closes the pipe while the dump is being written: the shut-down
// waits for it instead of ending the process with 0 and a cut-off file.
TEST_F(LeftoverCrash, HostClosingThePipeMeanwhileStillGetsDumpAndExitNine)
{
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    before = LocalNow();
    ScanTheLeaver(server);
    for (int i = 0; i < 3000 && !DumpBegun(); i++)
        Sleep(10);
    ASSERT_TRUE(DumpBegun()) << "the leftover thread never crashed";
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(DumpTimeout), "");
    EXPECT_EQ(server.WaitExit(DumpTimeout), CrashExit);
    after = LocalNow();
    ExpectOneDump(dumps);
}

// ---------------------------------- host calls from a plugin's own thread

class ThreadCallbacks : public ScanTest
{
};

const std::string ThreadedConfig = "name=Threaded\n"
                                   "vendor=Hostile\n"
                                   "product=Threads\n"
                                   "id=0x54687264\n"
                                   "inputs=2\n"
                                   "outputs=2\n"
                                   "category=1\n"
                                   "vendorversion=1000\n";

// A thread the plugin starts in its entry point, calling while the scan
// runs, is the plugin's own: its lines and its MIDI request count.
TEST_F(ThreadCallbacks, HelperThreadCallsDuringTheScanAreLogged)
{
    std::wstring dll = Plugin("Helper", ThreadedConfig + "threadcall=1\nthreadcall=6\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Audio master callback: 1 - audioMasterVersion\n"
                          "info:Audio master callback: 6 - audioMasterWantMidi\n"
                          "info:Dispatching effClose...\n"
                          "info:Freeing library...\n"
                          "info:Finished\n"
                          ">:{\n"
                          ">:  \"id\":        \"54687264\",\n"
                          ">:  \"name\":      \"Threaded\",\n"
                          ">:  \"vendor\":    \"Hostile\",\n"
                          ">:  \"product\":   \"Threads\",\n"
                          ">:  \"version\":   \"1.0.0.0\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 2,\n"
                          ">:  \"numOutputs\":2,\n"
                          ">:  \"wantsMidi\":  true,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n"
                          "ready:\n");
}

// The sample effect's own answer, whatever ran before it.
std::string SampleEffectAnswer(const std::string& path)
{
    return "info:Scanning plugin: '" + path + "'\n"
           "info:Loading library...\n"
           "info:Looking for entry point in module <module>\n"
           "info:Found VSTPluginMain()\n"
           "info:Calling entry point...\n"
           "info:Audio master callback: 1 - audioMasterVersion\n"
           "info:Dispatching effClose...\n"
           "info:Freeing library...\n"
           "info:Finished\n"
           ">:{\n"
           ">:  \"id\":        \"536D4566\",\n"
           ">:  \"name\":      \"Sample Effect\",\n"
           ">:  \"vendor\":    \"Zandrel Software\",\n"
           ">:  \"product\":   \"Orvanta Samples\",\n"
           ">:  \"version\":   \"1.1.0.0\",\n"
           ">:  \"error\":     \"\",\n"
           ">:  \"numInputs\": 2,\n"
           ">:  \"numOutputs\":2,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           + PlatformLine() +
           ">:  \"audio64\":   true,\n"
           ">:  \"category\":  1,\n"
           ">:  \"synthEdit\": false,\n"
           ">:}\n"
           "ready:\n";
}

// After its scan the plugin's thread calls the host without pause, asking
// for MIDI among other things. Its calls are answered but leave no line,
// between the answers or inside them, and no flag in a later report.
TEST_F(ThreadCallbacks, LeftoverThreadLeavesLaterScansAlone)
{
    std::wstring dll = Plugin("Leftover", ThreadedConfig +
                                              "leftover=6\n"
                                              "leftover=1\n"
                                              "leftover=37\n"
                                              "leftover=7\n"
                                              "leftover=32\n"
                                              "leftover=2\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Dispatching effClose...\n"
                          "info:Freeing library...\n"
                          "info:Finished\n"
                          ">:{\n"
                          ">:  \"id\":        \"54687264\",\n"
                          ">:  \"name\":      \"Threaded\",\n"
                          ">:  \"vendor\":    \"Hostile\",\n"
                          ">:  \"product\":   \"Threads\",\n"
                          ">:  \"version\":   \"1.0.0.0\",\n"
                          ">:  \"error\":     \"\",\n"
                          ">:  \"numInputs\": 2,\n"
                          ">:  \"numOutputs\":2,\n"
                          ">:  \"wantsMidi\":  false,\n"
                          ">:  \"sendsMidi\": false,\n"
                          + PlatformLine() +
                          ">:  \"audio64\":   false,\n"
                          ">:  \"category\":  1,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:}\n"
                          "ready:\n");

    // The thread starts calling only now, after the scan has ended.
    folder.Write(L"Leftover.go", "");
    for (int i = 0; i < 3000 && Events(dll).find("leftover calling\n") == std::string::npos; i++)
        Sleep(10);
    ASSERT_NE(Events(dll).find("leftover calling\n"), std::string::npos)
        << "the leftover thread never called";

    std::string sample = Utf8(SamplePath(L"SampleEffect"));
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(MaskModuleHandles(Scan(sample)), SampleEffectAnswer(sample)) << "scan " << i + 1;
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
