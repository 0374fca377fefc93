// Hostile VST3 modules through the real server: crashes in each phase that
// runs plugin code (a dump, exit code 9, the phase the last line a host
// read), crashes in the clean-up steps (survived), a hang and a message box
// in initialize, a factory that claims a million classes, and texts that
// fill their arrays or are not UTF-8.
#include "crash_support.h"
#include "desktop.h"
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The hostile fixtures' class: 484F5354 494C4500 00000000 000000MM, MM the
// fixture's mode.
std::string HostileCid(const std::string& mode) { return "484F5354494C450000000000000000" + mode; }

// ------------------------------------------------------------ crashes

struct Vst3Crash : CrashDump
{
    // One request that crashes a fresh server: every line up to the crash
    // reaches the host, then the dump and exit code 9.
    void Expect(const wchar_t* fixture, const std::string& line, const std::string& transcript)
    {
        pluginName = fixture;
        pluginPath = Vst3Binary(fixture);
        ServerProcess server;
        StartServer(server, WithDumps(dumps));
        EXPECT_EQ(CrashingRequest(server, line), transcript);
        ExpectOneDump(dumps);
    }
};

TEST_F(Vst3Crash, InInitDll)
{
    std::string line = Vst3Line(Vst3Binary(L"Vst3CrashInitDll"));
    Expect(L"Vst3CrashInitDll", line, Vst3ModuleOpening(line) + PhaseLines({"load", "InitDll"}));
}

TEST_F(Vst3Crash, InGetPluginFactory)
{
    std::string line = Vst3Line(Vst3Binary(L"Vst3CrashFactory"));
    Expect(L"Vst3CrashFactory", line, Vst3ModuleOpening(line) + PhaseLines({"load", "GetPluginFactory"}));
}

TEST_F(Vst3Crash, InClassInfo)
{
    std::string line = Vst3Line(Vst3Binary(L"Vst3CrashClassInfo"));
    Expect(L"Vst3CrashClassInfo", line,
           Vst3ModuleOpening(line) +
               PhaseLines({"load", "GetPluginFactory", "setHostContext", "factory info", "class info"}));
}

TEST_F(Vst3Crash, InInitialize)
{
    std::string line = Vst3Line(Vst3Binary(L"Vst3CrashInitialize"), HostileCid("08"));
    Expect(L"Vst3CrashInitialize", line,
           Vst3ClassOpening(line) +
               PhaseLines({"load", "GetPluginFactory", "setHostContext", "createInstance", "initialize"}));
}

// terminate, the instance's release, the factory's release and ExitDll
// each crash: every one is survived with its warning, the request gets its
// report, and the server ends with 0 and no dump.
TEST_F(Vst3Crash, InEveryCleanUpStepIsSurvived)
{
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    std::string line = Vst3Line(Vst3Binary(L"Vst3CrashCleanup"), HostileCid("09"));
    std::string answer = server.Request(line, DumpTimeout);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")),
              Vst3ClassOpening(line) +
                  PhaseLines({"load", "InitDll", "GetPluginFactory", "setHostContext", "createInstance",
                              "initialize", "bus info", "controller", "terminate"}) +
                  Warn("Crash in terminate (C0000005), ignored") + PhaseLines({"release"}) +
                  Warn("Crash in release (C0000005), ignored") + Vst3KeepLines);
    EXPECT_TRUE(EndsWith(answer, ">:  \"audioInputs\": 2,\n"
                                 ">:  \"audioOutputs\": 2,\n"
                                 ">:  \"controller\": \"\",\n"
                                 ">:  \"buses\": [\n"
                                 ">:    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 0, \"name\": \"Stereo In\", \"channels\": 2, \"busType\": 0, \"flags\": 1},\n"
                                 ">:    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 1, \"name\": \"Sidechain\", \"channels\": 2, \"busType\": 1, \"flags\": 0},\n"
                                 ">:    {\"media\": \"audio\", \"direction\": \"out\", \"index\": 0, \"name\": \"Stereo Out\", \"channels\": 2, \"busType\": 0, \"flags\": 1}\n"
                                 ">:  ]\n"
                                 ">:}\n"
                                 "ready:\n"))
        << answer;
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(DumpTimeout), Info("Freeing cached library...") + PhaseLines({"factory release"}) +
                                                 Warn("Crash in factory release (C0000005), ignored") +
                                                 PhaseLines({"ExitDll"}) +
                                                 Warn("Crash in ExitDll (C0000005), ignored") + Info("Freed"));
    EXPECT_EQ(server.WaitExit(DumpTimeout), 0u);
    EXPECT_TRUE(ListFolder(dumps).empty());
}

// ------------------------------------------------------- hang and dialog

class Vst3Hostile : public ScanTest
{
protected:
    // The lines of a class request of a hostile fixture up to initialize.
    static std::string UpToInitialize(const std::string& line)
    {
        return Vst3ClassOpening(line) +
               PhaseLines({"load", "GetPluginFactory", "setHostContext", "createInstance", "initialize"});
    }

    // The server's window with that title, waited for up to timeoutMs.
    HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs)
    {
        for (DWORD waited = 0; waited < timeoutMs; waited += 100)
        {
            for (HWND window : TopLevelWindows(server.ProcessId()))
            {
                wchar_t text[64] = {};
                GetWindowTextW(window, text, 64);
                if (title == text)
                    return window;
            }
            Sleep(100);
        }
        return nullptr;
    }
};

// No answer while the plugin sleeps in initialize, and the last line the
// host has names that phase.
TEST_F(Vst3Hostile, HangInInitializeLeavesItsPhaseLast)
{
    std::string line = Vst3Line(Vst3Binary(L"Vst3HangInitialize"), HostileCid("0A"));
    ASSERT_TRUE(server.Write(line + "\n"));
    bool ready = true;
    std::string answer = server.ReadUntilReady(3000, &ready);
    EXPECT_FALSE(ready);
    EXPECT_EQ(answer, UpToInitialize(line));
    server.Kill();
}

// The server waits on the plugin's message box in initialize; once it is
// closed, the request goes on to its report.
TEST_F(Vst3Hostile, MessageBoxInInitializeHoldsTheRequestUntilClosed)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: a message box cannot show";
    std::string line = Vst3Line(Vst3Binary(L"Vst3DialogInitialize"), HostileCid("0B"));
    ASSERT_TRUE(server.Write(line + "\n"));
    HWND box = WaitForWindow(L"Licence check", 20000);
    ASSERT_NE(box, nullptr) << "no window titled 'Licence check'";
    bool ready = true;
    std::string waiting = server.ReadUntilReady(500, &ready);
    EXPECT_FALSE(ready);
    EXPECT_EQ(waiting, UpToInitialize(line));

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    std::string rest = server.ReadUntilReady(20000, &ready);
    EXPECT_TRUE(ready);
    EXPECT_EQ(rest.substr(0, rest.find(">:{")),
              PhaseLines({"bus info", "controller", "terminate", "release"}) + Vst3KeepLines);
}

// ------------------------------------------------ counts and texts

// countClasses says 1,000,000: the count is reported as said, and the
// first 4096 classes are listed. Class 0 says 1,000,000 buses of each kind:
// the counts are reported as said, 256 of each are listed and summed.
TEST_F(Vst3Hostile, ClassAndBusListsAreBounded)
{
    std::string answer = Scan(Vst3Line(Vst3Binary(L"Vst3ManyClasses")), 60000);
    EXPECT_EQ(CountOf(answer, "\n>:    {\"index\": "), 4096);
    EXPECT_NE(answer.find(">:  \"classCount\": 1000000,\n>:  \"classes\": [\n"
                          ">:    {\"index\": 0, \"cid\": \"4D414E59000000000000000000000000\", "
                          "\"category\": \"Audio Module Class\", \"name\": \"Class 0\", "
                          "\"cardinality\": 0, \"infoLevel\": 2, \"classFlags\": 0, \"subCategories\": \"\", "
                          "\"vendor\": \"\", \"version\": \"\", \"sdkVersion\": \"\"},\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(answer, ">:    {\"index\": 4095, \"cid\": \"4D414E59000000000000000000000FFF\", "
                                 "\"category\": \"Component Controller Class\", \"name\": \"Class 4095\", "
                                 "\"cardinality\": 0, \"infoLevel\": 2, \"classFlags\": 0, \"subCategories\": \"\", "
                                 "\"vendor\": \"\", \"version\": \"\", \"sdkVersion\": \"\"}\n"
                                 ">:  ]\n"
                                 ">:}\n"
                                 "ready:\n"));

    std::string buses = Scan(Vst3Line(Vst3Binary(L"Vst3ManyClasses"), "4D414E59000000000000000000000000"), 60000);
    EXPECT_EQ(CountOf(buses, "\n>:    {\"media\": "), 1024);
    EXPECT_NE(buses.find(">:  \"audioInputBuses\": 1000000,\n"
                         ">:  \"audioOutputBuses\": 1000000,\n"
                         ">:  \"eventInputBuses\": 1000000,\n"
                         ">:  \"eventOutputBuses\": 1000000,\n"
                         ">:  \"audioInputs\": 256,\n"
                         ">:  \"audioOutputs\": 256,\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(buses, ">:    {\"media\": \"event\", \"direction\": \"out\", \"index\": 255, \"name\": \"Bus 255\", "
                                "\"channels\": 1, \"busType\": 0, \"flags\": 1}\n"
                                ">:  ]\n"
                                ">:}\n"
                                "ready:\n"));
}

// Every text array read to its end and no further, whether or not it holds
// a terminator; bytes that are not UTF-8 and unpaired surrogates as U+FFFD,
// one per byte or unit.
TEST_F(Vst3Hostile, TextsThatFillTheirArraysOrAreNotUtf8)
{
    const std::wstring binary = Vst3Binary(L"Vst3BadTexts");
    const std::string module = Vst3Line(binary);
    std::string answer = Scan(module);
    const std::string r = "\\ufffd";
    EXPECT_EQ(answer.substr(answer.find(">:{")),
              ">:{\n"
              ">:  \"format\": \"vst3\",\n"
              ">:  \"error\": \"\",\n"
              ">:  \"phase\": \"\",\n"
              ">:  \"initDll\": false,\n"
              ">:  \"exitDll\": false,\n"
              ">:  \"factory\": {\"vendor\": \"" + std::string(64, 'V') +
                  "\", \"url\": \"https:\\/\\/" + std::string(248, 'u') +
                  "\", \"email\": \"" + r + r + "caf\\u00e9" + r + r + "x" + r + r + r + r + r +
                  "\\ud834\\udd1e" + r + std::string(108, 'e') + "\", \"flags\": 1094795585},\n"
              ">:  \"classCount\": 2,\n"
              ">:  \"classes\": [\n"
              ">:    {\"index\": 0, \"cid\": \"484F5354494C4500000000000000000D\", \"category\": \"Audio Module Class\", "
              "\"name\": \"W" + r + "a" + r + "\\ud834\\udd1e" + std::string(58, 'w') + "\", "
              "\"cardinality\": 2147483647, \"infoLevel\": 3, \"classFlags\": 1, "
              "\"subCategories\": \"" + std::string(128, 's') + "\", "
              "\"vendor\": \"" + std::string(63, 'z') + r + "\", \"version\": \"" + r + "1\", "
              "\"sdkVersion\": \"" + std::string(64, '9') + "\"},\n"
              ">:    {\"index\": 1, \"cid\": \"484F5354494C4500000000000000008D\", "
              "\"category\": \"" + std::string(32, 'C') + "\", \"name\": \"" + std::string(64, 'N') + "\", "
              "\"cardinality\": 2147483647, \"infoLevel\": 2, \"classFlags\": 1, "
              "\"subCategories\": \"Fx|" + std::string(125, 'S') + "\", "
              "\"vendor\": \"" + r + r + "Zandrel" + std::string(54, 'v') + r + "\", "
              "\"version\": \"1.0.0\", \"sdkVersion\": \"VST 3.7.9\"}\n"
              ">:  ]\n"
              ">:}\n"
              "ready:\n");

    std::string buses = Scan(Vst3Line(binary, HostileCid("0D")));
    const std::string bus = "\"name\": \"" + std::string(128, 'b') + "\", \"channels\": 2";
    EXPECT_EQ(CountOf(buses, bus), 3) << buses;
}

} // namespace
