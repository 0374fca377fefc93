// Hostile CLAP modules through the real server: crashes in each phase that
// runs plugin code (a dump, exit code 9, the phase the last line a host
// read), crashes in the clean-up steps (survived), hangs in init and
// deinit, a message box in a plugin's init, a factory that claims a million
// plugins, and descriptors with null, long or broken texts.
#include "crash_support.h"
#include "desktop.h"
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string Open = PhaseLines({"load", "clap_entry", "init", "get_factory"});
const std::string EffectId = "com.zandrel.orvanta-effect";

// ------------------------------------------------------------ crashes

struct ClapCrash : CrashDump
{
    // One request that crashes a fresh server: every line up to the crash
    // reaches the host, then the dump and exit code 9.
    void Expect(const wchar_t* fixture, bool pluginRequest, const std::vector<std::string>& phases)
    {
        pluginName = fixture;
        pluginPath = ClapBinary(fixture);
        ServerProcess server;
        StartServer(server, WithDumps(dumps));
        std::string line = ClapLine(pluginPath, pluginRequest ? EffectId : "");
        EXPECT_EQ(CrashingRequest(server, line),
                  (pluginRequest ? ClapPluginOpening(line) : ClapModuleOpening(line)) + PhaseLines(phases));
        ExpectOneDump(dumps);
    }
};

TEST_F(ClapCrash, InTheEntrysInit)
{
    Expect(L"ClapCrashEntryInit", false, {"load", "clap_entry", "init"});
}

TEST_F(ClapCrash, InGetFactory)
{
    Expect(L"ClapCrashFactory", false, {"load", "clap_entry", "init", "get_factory"});
}

TEST_F(ClapCrash, InCreatePlugin)
{
    Expect(L"ClapCrashCreate", true, {"load", "clap_entry", "init", "get_factory", "create_plugin"});
}

TEST_F(ClapCrash, InThePluginsInit)
{
    Expect(L"ClapCrashPluginInit", true, {"load", "clap_entry", "init", "get_factory", "create_plugin", "plugin init"});
}

// The plugin's destroy and the entry's deinit both crash: each is survived
// with its warning, the request gets its report, and the server ends with
// 0 and no dump.
TEST_F(ClapCrash, InEveryCleanUpStepIsSurvived)
{
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    std::string line = ClapLine(ClapBinary(L"ClapCrashCleanup"), EffectId);
    std::string answer = server.Request(line, DumpTimeout);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")),
              ClapPluginOpening(line) + Open +
                  PhaseLines({"create_plugin", "plugin init", "audio ports", "note ports", "gui", "destroy"}) +
                  Warn("Crash in destroy (C0000005), ignored") + ClapKeepLines);
    EXPECT_TRUE(EndsWith(answer, ">:    {\"kind\": \"audio\", \"direction\": \"out\", \"index\": 0, \"id\": 1, "
                                 "\"name\": \"Stereo Out\", \"channels\": 2, \"flags\": 1, \"portType\": \"stereo\"}\n"
                                 ">:  ]\n"
                                 ">:}\n"
                                 "ready:\n"))
        << answer;
    EXPECT_EQ(server.Request("clap|", DumpTimeout),
              Info("Freeing the cached module on request...") + Info("Freeing cached library...") +
                  PhaseLines({"deinit"}) + Warn("Crash in deinit (C0000005), ignored") + Info("Freed") +
                  Info("Finished") +
                  ">:{\n"
                  ">:  \"format\": \"clap\",\n"
                  ">:  \"error\": \"\",\n"
                  ">:  \"phase\": \"\"\n"
                  ">:}\n"
                  "ready:\n");
    server.CloseInput();
    EXPECT_EQ(server.WaitExit(DumpTimeout), 0u);
    EXPECT_TRUE(ListFolder(dumps).empty());
}

// ------------------------------------------------------- hangs and dialog

class ClapHostile : public ScanTest
{
protected:
    // Sends the line and reads what comes within 3 s: no "ready:".
    std::string Hung(const std::string& line)
    {
        EXPECT_TRUE(server.Write(line + "\n"));
        bool ready = true;
        std::string answer = server.ReadUntilReady(3000, &ready);
        EXPECT_FALSE(ready);
        return answer;
    }

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

// No answer while the module sleeps in its entry's init, and the last line
// the host has names that phase.
TEST_F(ClapHostile, HangInInitLeavesItsPhaseLast)
{
    std::string line = ClapLine(ClapBinary(L"ClapHangInit"));
    EXPECT_EQ(Hung(line), ClapModuleOpening(line) + PhaseLines({"load", "clap_entry", "init"}));
    server.Kill();
}

// A hang in deinit shows in the free request, the module's own.
TEST_F(ClapHostile, HangInDeinitShowsInTheFreeRequest)
{
    Scan(ClapLine(ClapBinary(L"ClapHangDeinit")));
    EXPECT_EQ(Hung("clap|"), Info("Freeing the cached module on request...") + Info("Freeing cached library...") +
                                 PhaseLines({"deinit"}));
    server.Kill();
}

// The server waits on the plugin's message box in its init; once it is
// closed, the request goes on to its report.
TEST_F(ClapHostile, MessageBoxInPluginInitHoldsTheRequestUntilClosed)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: a message box cannot show";
    std::string line = ClapLine(ClapBinary(L"ClapDialogInit"), EffectId);
    ASSERT_TRUE(server.Write(line + "\n"));
    HWND box = WaitForWindow(L"Licence check", 20000);
    ASSERT_NE(box, nullptr) << "no window titled 'Licence check'";
    bool ready = true;
    std::string waiting = server.ReadUntilReady(500, &ready);
    EXPECT_FALSE(ready);
    EXPECT_EQ(waiting, ClapPluginOpening(line) + Open + PhaseLines({"create_plugin", "plugin init"}));

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    std::string rest = server.ReadUntilReady(20000, &ready);
    EXPECT_TRUE(ready);
    EXPECT_EQ(rest.substr(0, rest.find(">:{")), PhaseLines({"audio ports", "note ports", "gui", "destroy"}) + ClapKeepLines);
}

// ------------------------------------------------ counts and texts

// get_plugin_count says 1,000,000: the count is reported as said and the
// first 4096 plugins are listed. Its plugin says 1,000,000 ports of each
// kind and direction: the counts are reported as said, 256 of each listed.
TEST_F(ClapHostile, PluginAndPortListsAreBounded)
{
    const std::wstring binary = ClapBinary(L"ClapManyPlugins");
    std::string answer = Scan(ClapLine(binary), 60000);
    const std::string plugin = "\"problem\": \"\", \"id\": \"com.zandrel.many\", \"name\": \"Many\", "
                               "\"vendor\": \"Zandrel Software\", \"url\": \"\", \"manualUrl\": \"\", "
                               "\"supportUrl\": \"\", \"version\": \"1.0.0\", \"description\": \"\", "
                               "\"features\": [\"audio-effect\"], \"clapVersion\": \"1.2.2\", \"cut\": [], \"vst3\": \"\"}";
    EXPECT_EQ(CountOf(answer, "\n>:    {\"index\": "), 4096);
    EXPECT_NE(answer.find(">:  \"pluginCount\": 1000000,\n>:  \"araFactory\": \"\",\n>:  \"plugins\": [\n"
                          ">:    {\"index\": 0, " + plugin + ",\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(answer, ">:    {\"index\": 4095, " + plugin + "\n"
                                 ">:  ],\n"
                                 ">:  \"converters\": []\n"
                                 ">:}\n"
                                 "ready:\n"));

    std::string ports = Scan(ClapLine(binary, "com.zandrel.many"), 60000);
    EXPECT_EQ(CountOf(ports, "\n>:    {\"kind\": "), 1024);
    EXPECT_NE(ports.find(">:  \"audioInputPorts\": 1000000,\n"
                         ">:  \"audioOutputPorts\": 1000000,\n"
                         ">:  \"audioInputs\": 1,\n"
                         ">:  \"audioOutputs\": 1,\n"
                         ">:  \"noteInputPorts\": 1000000,\n"
                         ">:  \"noteOutputPorts\": 1000000,\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(ports, ">:    {\"kind\": \"note\", \"direction\": \"out\", \"index\": 255, \"id\": 255, "
                                "\"name\": \"Notes 255\", \"dialects\": 2, \"preferred\": 2}\n"
                                ">:  ]\n"
                                ">:}\n"
                                "ready:\n"));
}

// A null descriptor, id or name makes a listed plugin with a problem and
// nothing else; other null texts are empty, a null feature list none.
TEST_F(ClapHostile, NullDescriptorsAndTexts)
{
    std::string answer = Scan(ClapLine(ClapBinary(L"ClapNullTexts")));
    EXPECT_EQ(answer.substr(answer.find(">:{")), R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 4,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "no id", "id": "", "name": "", "vendor": "", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "", "features": [], "clapVersion": "", "cut": [], "vst3": ""},
>:    {"index": 1, "problem": "no name", "id": "", "name": "", "vendor": "", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "", "features": [], "clapVersion": "", "cut": [], "vst3": ""},
>:    {"index": 2, "problem": "", "id": "com.zandrel.sparse", "name": "Sparse", "vendor": "", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "", "features": [], "clapVersion": "1.2.2", "cut": [], "vst3": ""},
>:    {"index": 3, "problem": "no descriptor", "id": "", "name": "", "vendor": "", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "", "features": [], "clapVersion": "", "cut": [], "vst3": ""}
>:  ],
>:  "converters": []
>:}
)" + Ready);
}

// A text of exactly 4096 bytes is whole; a longer one is cut there and
// named in "cut", as is a feature list past 64. Bytes that are not UTF-8
// become U+FFFD one by one.
TEST_F(ClapHostile, LongAndBrokenTexts)
{
    std::string answer = Scan(ClapLine(ClapBinary(L"ClapLongTexts")));
    std::string features;
    for (int i = 0; i < 64; i++)
        features += (i ? ", \"f" : "\"f") + std::to_string(i) + "\"";
    EXPECT_EQ(answer.substr(answer.find(">:    {")),
              ">:    {\"index\": 0, \"problem\": \"\", \"id\": \"com.zandrel.long\", "
              "\"name\": \"Bad\\ufffd\\ufffd(\\u20ac\", \"vendor\": \"" + std::string(4096, 'v') +
                  "\", \"url\": \"\", \"manualUrl\": \"\", \"supportUrl\": \"\", \"version\": \"1.0\", "
                  "\"description\": \"" + std::string(4096, 'd') + "\", \"features\": [" + features +
                  "], \"clapVersion\": \"1.0.0\", \"cut\": [\"description\", \"features\"], \"vst3\": \"\"}\n"
                  ">:  ],\n"
                  ">:  \"converters\": []\n"
                  ">:}\n" + Ready);
}

} // namespace
