// CLAP preset discovery through the real server, byte for byte: the
// provider list and each provider of the good fixture (a folder of preset
// files walked in name order, presets inside the plugin, every kind of
// metadata), the draft factory ID, modules without presets, providers that
// fail, and the hostile ones: a crash in get_metadata, a hang and a message
// box in a provider's init, a million presets, texts without a terminator
// and calls out of their phase.
#include "crash_support.h"
#include "desktop.h"
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string Open = PhaseLines({"load", "clap_entry", "init", "get_factory"});
const std::string Reuse = Info("Re-using previous library instance...");
const std::string ListPhases = PhaseLines({"preset factory", "providers"});
const std::string ProviderPhases = PhaseLines({"preset factory", "create", "init", "metadata", "destroy"});
const std::string SynthId = "{\"abi\": \"clap\", \"id\": \"com.zandrel.preset-synth\"}";

// A presets request line: "clap-presets|" and the module's path, then ">"
// and the provider ID for a provider request.
std::string PresetsLine(const std::wstring& module, const std::string& provider = "")
{
    return "clap-presets|" + Utf8(module) + (provider.empty() ? "" : ">" + provider);
}

std::string PresetsOpening(const std::string& line) { return Info("Scanning CLAP presets: '" + line + "'"); }

// A Windows path as the block writes it: each backslash escaped.
std::string InBlock(const std::wstring& path)
{
    std::string text;
    for (char c : Utf8(path))
        text += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return text;
}

// The folder ClapPresets declares: its path without ".clap", "-presets".
std::wstring PresetFolder()
{
    std::wstring module = ClapBinary(L"ClapPresets");
    return module.substr(0, module.size() - 5) + L"-presets";
}

// The block of a provider request that failed before anything was
// declared.
std::string FailedProviderBlock(const std::string& provider, const std::string& error, const std::string& phase)
{
    return Error(error) + ">:{\n"
                          ">:  \"format\": \"clap-presets\",\n"
                          ">:  \"provider\": \"" + provider + "\",\n"
                          ">:  \"error\": \"" + error + "\",\n"
                          ">:  \"phase\": \"" + phase + "\",\n"
                          ">:  \"fileTypes\": [],\n"
                          ">:  \"locations\": [],\n"
                          ">:  \"soundpacks\": [],\n"
                          ">:  \"presetCount\": 0,\n"
                          ">:  \"presets\": [],\n"
                          ">:  \"errors\": [],\n"
                          ">:  \"cut\": []\n"
                          ">:}\n";
}

class ClapPresets : public ScanTest
{
};

// ------------------------------------------------------------ good modules

TEST_F(ClapPresets, ProviderListNamesBothProviders)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresets"));
    EXPECT_EQ(Scan(line), PresetsOpening(line) + Open + ListPhases + ClapKeepLines + R"(>:{
>:  "format": "clap-presets",
>:  "error": "",
>:  "phase": "",
>:  "factory": "clap.preset-discovery-factory\/2",
>:  "providerCount": 2,
>:  "providers": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.presets.factory", "name": "Zandrel Factory Presets", "vendor": "Zandrel Software", "clapVersion": "1.2.2"},
>:    {"index": 1, "problem": "", "id": "com.zandrel.presets.user", "name": "Zandrel User Presets", "vendor": "Zandrel Software", "clapVersion": "1.0.0"}
>:  ]
>:}
)" + Ready);
}

// The provider's folder is walked in name order (Pads\ between Lead and
// Readme.txt, which is not of the declared type and is not given), each
// file of its type given to get_metadata, then its presets inside the
// plugin. Lead.zpreset gives metadata without beginning a preset: the file
// is the preset. Broken.zpreset reports an error. The provider's init
// refuses an indexer that is not the server's.
TEST_F(ClapPresets, FactoryProviderGivesItsFilesAndBuiltInPresets)
{
    const std::wstring module = ClapBinary(L"ClapPresets");
    Scan(PresetsLine(module));
    const std::string line = PresetsLine(module, "com.zandrel.presets.factory");
    const std::string folder = InBlock(PresetFolder());
    EXPECT_EQ(Scan(line), PresetsOpening(line) + Reuse + ProviderPhases + ClapKeepLines + R"(>:{
>:  "format": "clap-presets",
>:  "provider": "com.zandrel.presets.factory",
>:  "error": "",
>:  "phase": "",
>:  "fileTypes": [
>:    {"name": "Zandrel preset", "description": "A bank of presets or a single one", "extension": "zpreset"}
>:  ],
>:  "locations": [
>:    {"flags": 1, "name": "Factory", "kind": "file", "location": ")" + folder + R"("},
>:    {"flags": 1, "name": "Built in", "kind": "plugin", "location": ""}
>:  ],
>:  "soundpacks": [
>:    {"flags": 1, "id": "com.zandrel.pack.analog", "name": "Analog Pack", "description": "Warm analog sounds", "homepage": "https:\/\/zandrel.example\/packs\/analog", "vendor": "Zandrel Software", "image": ")" + folder + R"(\\Analog Pack.png", "released": 1690000000}
>:  ],
>:  "presetCount": 8,
>:  "presets": [
>:    {"kind": "file", "location": ")" + folder + R"(\\Bank.zpreset", "name": "Warm Pad", "loadKey": "bank:0", "plugins": [)" + SynthId + R"(], "soundpack": "com.zandrel.pack.analog", "flags": 1, "creators": ["Ann Example", "Ben Example"], "description": "A soft pad with a slow attack", "created": 1700000000, "modified": 1700086400, "features": ["pad", "warm"], "extra": [["mood", "calm"], ["tempo", "slow"]], "cut": []},
>:    {"kind": "file", "location": ")" + folder + R"(\\Bank.zpreset", "name": "Deep Bass", "loadKey": "bank:1", "plugins": [)" + SynthId + R"(, {"abi": "vst3", "id": "5653544753616D706C65476169700000"}], "soundpack": "", "flags": 9, "creators": [], "description": "", "created": 0, "modified": 0, "features": ["bass"], "extra": [], "cut": []},
>:    {"kind": "file", "location": ")" + folder + R"(\\Bank.zpreset", "name": "Pluck", "loadKey": "bank:2", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 1, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []},
>:    {"kind": "file", "location": ")" + folder + R"(\\Lead.zpreset", "name": "Lead", "loadKey": "", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 1, "creators": [], "description": "A lead in a file of its own", "created": 0, "modified": 0, "features": ["lead"], "extra": [], "cut": []},
>:    {"kind": "file", "location": ")" + folder + R"(\\Pads\\LOUD.ZPRESET", "name": "Loud", "loadKey": "pads:loud", "plugins": [], "soundpack": "", "flags": 1, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []},
>:    {"kind": "file", "location": ")" + folder + R"(\\Pads\\Soft Pad.zpreset", "name": "Soft Pad", "loadKey": "pads:soft", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 3, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []},
>:    {"kind": "plugin", "location": "", "name": "Init", "loadKey": "builtin:init", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 1, "creators": [], "description": "", "created": 0, "modified": 0, "features": ["init"], "extra": [], "cut": []},
>:    {"kind": "plugin", "location": "", "name": "Bright Keys", "loadKey": "builtin:bright-keys", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 9, "creators": ["Zandrel Sound Team"], "description": "A bright electric piano", "created": 1600000000, "modified": 0, "features": ["keys", "bright"], "extra": [["velocity", "soft"]], "cut": []}
>:  ],
>:  "errors": [
>:    {"location": ")" + folder + R"(\\Broken.zpreset", "status": 22, "message": "not a zpreset file"}
>:  ],
>:  "cut": []
>:}
)" + Ready);
}

// A preset begun without a name inside the plugin has an empty one; a
// preset without flags of its own has its location's.
TEST_F(ClapPresets, UserProviderGivesPresetsWithTheirLocationsFlags)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresets"), "com.zandrel.presets.user");
    EXPECT_EQ(Scan(line), PresetsOpening(line) + Open + ProviderPhases + ClapKeepLines + R"(>:{
>:  "format": "clap-presets",
>:  "provider": "com.zandrel.presets.user",
>:  "error": "",
>:  "phase": "",
>:  "fileTypes": [],
>:  "locations": [
>:    {"flags": 10, "name": "Favourites", "kind": "plugin", "location": ""}
>:  ],
>:  "soundpacks": [],
>:  "presetCount": 2,
>:  "presets": [
>:    {"kind": "plugin", "location": "", "name": "", "loadKey": "fav:1", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 10, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []},
>:    {"kind": "plugin", "location": "", "name": "My Lead", "loadKey": "fav:2", "plugins": [)" + SynthId + R"(], "soundpack": "", "flags": 2, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []}
>:  ],
>:  "errors": [],
>:  "cut": []
>:}
)" + Ready);
}

// A presets request and a module request of one module share one load,
// in either order; the module is freed once, at the end.
TEST_F(ClapPresets, PresetsAndModuleRequestsShareOneLoad)
{
    const std::wstring module = ClapBinary(L"ClapPresets");
    const std::string modules = ClapLine(module);
    const std::string list = PresetsLine(module);
    std::string first = Scan(modules);
    EXPECT_EQ(first.substr(0, first.find("info:Phase: descriptors")), ClapModuleOpening(modules) + Open);
    std::string second = Scan(list);
    EXPECT_EQ(second.substr(0, second.find(">:{")), PresetsOpening(list) + Reuse + ListPhases + ClapKeepLines);
    std::string third = Scan(modules);
    EXPECT_EQ(third.substr(0, third.find("info:Phase: descriptors")), ClapModuleOpening(modules) + Reuse);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), Info("Freeing cached library...") + PhaseLines({"deinit"}) + Info("Freed"));
}

TEST_F(ClapPresets, DraftFactoryIdIsFoundWhenTheFinalOneIsMissing)
{
    const std::wstring module = ClapBinary(L"ClapPresetsDraft");
    std::string list = Scan(PresetsLine(module));
    EXPECT_EQ(list.substr(list.find(">:{")), R"(>:{
>:  "format": "clap-presets",
>:  "error": "",
>:  "phase": "",
>:  "factory": "clap.preset-discovery-factory\/draft-2",
>:  "providerCount": 1,
>:  "providers": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.presets.draft", "name": "Draft Presets", "vendor": "Zandrel Software", "clapVersion": "1.2.2"}
>:  ]
>:}
)" + Ready);
    std::string provider = Scan(PresetsLine(module, "com.zandrel.presets.draft"));
    EXPECT_NE(provider.find(R"(>:  "presetCount": 1,
>:  "presets": [
>:    {"kind": "plugin", "location": "", "name": "Draft Init", "loadKey": "draft:init", "plugins": [], "soundpack": "", "flags": 1, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [], "cut": []}
>:  ],
)"),
              std::string::npos)
        << provider;
}

// A module without a preset-discovery factory is no failure for the list;
// a provider request for it fails in that phase.
TEST_F(ClapPresets, ModuleWithoutPresetsListsNoProviders)
{
    const std::wstring module = ClapBinary(L"ClapInstrument");
    const std::string list = PresetsLine(module);
    EXPECT_EQ(Scan(list), PresetsOpening(list) + Open + PhaseLines({"preset factory"}) + ClapKeepLines + R"(>:{
>:  "format": "clap-presets",
>:  "error": "",
>:  "phase": "",
>:  "factory": "",
>:  "providerCount": 0,
>:  "providers": []
>:}
)" + Ready);
    const std::string provider = PresetsLine(module, "com.zandrel.presets.factory");
    EXPECT_EQ(Scan(provider), PresetsOpening(provider) + Reuse + PhaseLines({"preset factory"}) + ClapKeepLines +
                                  FailedProviderBlock("com.zandrel.presets.factory", "no preset-discovery factory",
                                                      "preset factory") +
                                  Ready);
}

TEST_F(ClapPresets, ModuleThatCannotLoadFailsTheListInLoad)
{
    const std::string line = PresetsLine(folder / L"Missing.clap");
    EXPECT_EQ(Scan(line), PresetsOpening(line) + PhaseLines({"load"}) + Info("Finished") +
                              Error("Failed to load library, err=126") + R"(>:{
>:  "format": "clap-presets",
>:  "error": "Failed to load library, err=126",
>:  "phase": "load",
>:  "factory": "",
>:  "providerCount": 0,
>:  "providers": []
>:}
)" + Ready);
}

// A request that names no provider loads nothing.
TEST_F(ClapPresets, EmptyProviderIdLoadsNothing)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresets")) + ">";
    EXPECT_EQ(Scan(line), PresetsOpening(line) + Info("Finished") +
                              FailedProviderBlock("", "Provider ID is empty", "") + Ready);
}

// Descriptors that are null or lack an id or name are listed with their
// problem; the list's other providers fail in their own requests.
TEST_F(ClapPresets, FailingProvidersAreListedAndFailInTheirOwnRequests)
{
    const std::wstring module = ClapBinary(L"ClapPresetsFailing");
    std::string list = Scan(PresetsLine(module));
    EXPECT_EQ(list.substr(list.find(">:{")), R"(>:{
>:  "format": "clap-presets",
>:  "error": "",
>:  "phase": "",
>:  "factory": "clap.preset-discovery-factory\/2",
>:  "providerCount": 6,
>:  "providers": [
>:    {"index": 0, "problem": "no descriptor", "id": "", "name": "", "vendor": "", "clapVersion": ""},
>:    {"index": 1, "problem": "no id", "id": "", "name": "", "vendor": "", "clapVersion": ""},
>:    {"index": 2, "problem": "no name", "id": "", "name": "", "vendor": "", "clapVersion": ""},
>:    {"index": 3, "problem": "", "id": "com.zandrel.presets.null", "name": "Null", "vendor": "Zandrel Software", "clapVersion": "1.2.2"},
>:    {"index": 4, "problem": "", "id": "com.zandrel.presets.hollow", "name": "Hollow", "vendor": "Zandrel Software", "clapVersion": "1.2.2"},
>:    {"index": 5, "problem": "", "id": "com.zandrel.presets.refuser", "name": "Refuser", "vendor": "Zandrel Software", "clapVersion": "1.2.2"}
>:  ]
>:}
)" + Ready);

    const std::string null = PresetsLine(module, "com.zandrel.presets.null");
    EXPECT_EQ(Scan(null), PresetsOpening(null) + Reuse + PhaseLines({"preset factory", "create"}) + ClapKeepLines +
                              FailedProviderBlock("com.zandrel.presets.null", "create returned NULL", "create") +
                              Ready);
    const std::string hollow = PresetsLine(module, "com.zandrel.presets.hollow");
    EXPECT_EQ(Scan(hollow), PresetsOpening(hollow) + Reuse + PhaseLines({"preset factory", "create", "destroy"}) +
                                ClapKeepLines +
                                FailedProviderBlock("com.zandrel.presets.hollow",
                                                    "the provider has no init, get_metadata or destroy", "create") +
                                Ready);
}

// What a provider declared before its init returned false is reported with
// the failure; the provider is destroyed.
TEST_F(ClapPresets, ProviderWhoseInitFailsKeepsWhatItDeclared)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresetsFailing"), "com.zandrel.presets.refuser");
    EXPECT_EQ(Scan(line), PresetsOpening(line) + Open + PhaseLines({"preset factory", "create", "init", "destroy"}) +
                              ClapKeepLines + Error("provider init returned false") + R"(>:{
>:  "format": "clap-presets",
>:  "provider": "com.zandrel.presets.refuser",
>:  "error": "provider init returned false",
>:  "phase": "init",
>:  "fileTypes": [
>:    {"name": "Refused", "description": "", "extension": "ref"}
>:  ],
>:  "locations": [],
>:  "soundpacks": [],
>:  "presetCount": 0,
>:  "presets": [],
>:  "errors": [],
>:  "cut": []
>:}
)" + Ready);
}

// ------------------------------------------------------------ hostile

struct ClapPresetsCrash : CrashDump
{
};

// The crash ends the server with its dump and exit code 9; the last line
// the host read names the phase.
TEST_F(ClapPresetsCrash, InGetMetadata)
{
    pluginName = L"ClapPresetsCrashMetadata";
    pluginPath = ClapBinary(pluginName);
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    const std::string line = PresetsLine(pluginPath, "com.zandrel.presets.crash");
    EXPECT_EQ(CrashingRequest(server, line),
              PresetsOpening(line) + Open + PhaseLines({"preset factory", "create", "init", "metadata"}));
    ExpectOneDump(dumps);
}

class ClapPresetsHostile : public ScanTest
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
};

TEST_F(ClapPresetsHostile, HangInProviderInitLeavesItsPhaseLast)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresetsHangInit"), "com.zandrel.presets.hang");
    EXPECT_EQ(Hung(line), PresetsOpening(line) + Open + PhaseLines({"preset factory", "create", "init"}));
    server.Kill();
}

// The server waits on the provider's message box; once it is closed, the
// request goes on to its report.
TEST_F(ClapPresetsHostile, MessageBoxInProviderInitHoldsTheRequestUntilClosed)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: a message box cannot show";
    const std::string line = PresetsLine(ClapBinary(L"ClapPresetsDialogInit"), "com.zandrel.presets.dialog");
    ASSERT_TRUE(server.Write(line + "\n"));
    HWND box = nullptr;
    for (DWORD waited = 0; !box && waited < 20000; waited += 100)
    {
        for (HWND window : TopLevelWindows(server.ProcessId()))
        {
            wchar_t text[64] = {};
            GetWindowTextW(window, text, 64);
            if (std::wstring(text) == L"Preset licence")
                box = window;
        }
        if (!box)
            Sleep(100);
    }
    ASSERT_NE(box, nullptr) << "no window titled 'Preset licence'";
    bool ready = true;
    EXPECT_EQ(server.ReadUntilReady(500, &ready), PresetsOpening(line) + Open +
                                                      PhaseLines({"preset factory", "create", "init"}));
    EXPECT_FALSE(ready);

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    std::string rest = server.ReadUntilReady(20000, &ready);
    EXPECT_TRUE(ready);
    EXPECT_EQ(rest.substr(0, rest.find(">:  \"presets\"")), PhaseLines({"metadata", "destroy"}) + ClapKeepLines + R"(>:{
>:  "format": "clap-presets",
>:  "provider": "com.zandrel.presets.dialog",
>:  "error": "",
>:  "phase": "",
>:  "fileTypes": [],
>:  "locations": [
>:    {"flags": 1, "name": "Built in", "kind": "plugin", "location": ""}
>:  ],
>:  "soundpacks": [],
>:  "presetCount": 1,
)");
}

// begin_preset 1,000,000 times: all are counted, the first 10,000 listed,
// and the list is named in "cut".
TEST_F(ClapPresetsHostile, MillionPresetsAreCountedAndTenThousandListed)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresetsMany"), "com.zandrel.presets.many");
    std::string answer = Scan(line, 60000);
    const std::string rest = "\"plugins\": [], \"soundpack\": \"\", \"flags\": 1, \"creators\": [], \"description\": \"\", "
                             "\"created\": 0, \"modified\": 0, \"features\": [], \"extra\": [], \"cut\": []}";
    EXPECT_EQ(CountOf(answer, "\n>:    {\"kind\": \"plugin\", "), 10000);
    EXPECT_NE(answer.find(">:  \"presetCount\": 1000000,\n"
                          ">:  \"presets\": [\n"
                          ">:    {\"kind\": \"plugin\", \"location\": \"\", \"name\": \"Preset 0\", \"loadKey\": \"0\", " +
                          rest + ",\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(answer, ">:    {\"kind\": \"plugin\", \"location\": \"\", \"name\": \"Preset 9999\", "
                                 "\"loadKey\": \"9999\", " + rest + "\n"
                                 ">:  ],\n"
                                 ">:  \"errors\": [],\n"
                                 ">:  \"cut\": [\"presets\"]\n"
                                 ">:}\n"
                                 "ready:\n"))
        << answer.substr(answer.size() > 2000 ? answer.size() - 2000 : 0);
}

// Each text ends at an inaccessible page after 4097 bytes, without a
// terminator: the server reads 4097 bytes at most (one more would crash
// it), keeps 4096 and names what it cut; a text of exactly 4096 is whole.
TEST_F(ClapPresetsHostile, TextsWithoutTerminatorAreCutAtTheirBound)
{
    const std::wstring module = ClapBinary(L"ClapPresetsLongTexts");
    std::string list = Scan(PresetsLine(module));
    EXPECT_NE(list.find(">:    {\"index\": 0, \"problem\": \"\", \"id\": \"com.zandrel.presets.long\", \"name\": \"" +
                        std::string(4096, 'n') + "\", \"vendor\": \"Zandrel Software\", \"clapVersion\": \"1.2.2\"}\n"),
              std::string::npos);
    std::string answer = Scan(PresetsLine(module, "com.zandrel.presets.long"));
    EXPECT_EQ(answer.substr(answer.find(">:  \"fileTypes\"")),
              ">:  \"fileTypes\": [\n"
              ">:    {\"name\": \"" + std::string(4096, 't') + "\", \"description\": \"\", \"extension\": \"zlong\"}\n"
              ">:  ],\n"
              ">:  \"locations\": [\n"
              ">:    {\"flags\": 1, \"name\": \"" + std::string(4096, 'l') + "\", \"kind\": \"plugin\", \"location\": \"\"}\n"
              ">:  ],\n"
              ">:  \"soundpacks\": [],\n"
              ">:  \"presetCount\": 1,\n"
              ">:  \"presets\": [\n"
              ">:    {\"kind\": \"plugin\", \"location\": \"\", \"name\": \"" + std::string(4096, 'p') +
                  "\", \"loadKey\": \"long:1\", \"plugins\": [], \"soundpack\": \"\", \"flags\": 1, \"creators\": [\"" +
                  std::string(4096, 'c') + "\"], \"description\": \"" + std::string(4096, 'd') +
                  "\", \"created\": 0, \"modified\": 0, \"features\": [], \"extra\": [[\"key\", \"" +
                  std::string(4096, 'v') + "\"]], \"cut\": [\"name\", \"description\", \"extra\"]}\n"
              ">:  ],\n"
              ">:  \"errors\": [\n"
              ">:    {\"location\": \"\", \"status\": 5, \"message\": \"" + std::string(4096, 'e') + "\"}\n"
              ">:  ],\n"
              ">:  \"cut\": [\"fileType text\", \"location text\", \"error text\"]\n"
              ">:}\n" + Ready);
}

// The indexer refuses declarations before init and after it, and from
// another thread during it; the receiver refuses calls from another thread
// during get_metadata and after it. The provider tells what its refused
// calls returned; the calls in destroy would have shown as a preset and a
// location.
TEST_F(ClapPresetsHostile, CallsOutOfTheirPhaseAreRefused)
{
    const std::string line = PresetsLine(ClapBinary(L"ClapPresetsOutOfPhase"), "com.zandrel.presets.out-of-phase");
    std::string answer = Scan(line);
    EXPECT_EQ(answer.substr(answer.find(">:{")), R"(>:{
>:  "format": "clap-presets",
>:  "provider": "com.zandrel.presets.out-of-phase",
>:  "error": "",
>:  "phase": "",
>:  "fileTypes": [],
>:  "locations": [
>:    {"flags": 1, "name": "Built in", "kind": "plugin", "location": ""}
>:  ],
>:  "soundpacks": [],
>:  "presetCount": 1,
>:  "presets": [
>:    {"kind": "plugin", "location": "", "name": "Kept", "loadKey": "kept", "plugins": [], "soundpack": "", "flags": 1, "creators": [], "description": "", "created": 0, "modified": 0, "features": [], "extra": [["declare_location in create", "false"], ["declare_soundpack from another thread in init", "false"], ["declare_filetype in get_metadata", "false"], ["begin_preset from another thread", "false"]], "cut": []}
>:  ],
>:  "errors": [],
>:  "cut": []
>:}
)" + Ready);
}

} // namespace
