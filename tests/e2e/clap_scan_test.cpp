// CLAP modules through the real server, byte for byte: the module, plugin
// and free requests of the good fixtures and of the DPF build, plugin
// requests that fail, modules that fail on their way in, and the one cached
// module shared with the other formats.
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

class ClapScan : public ScanTest
{
};

const std::string Open = PhaseLines({"load", "clap_entry", "init", "get_factory"});
const std::string ReadModule = PhaseLines({"descriptors", "vst3 info", "converters", "ara factory"});
const std::string ReadPlugin =
    PhaseLines({"create_plugin", "plugin init", "audio ports", "note ports", "gui", "destroy"});
const std::string Reuse = Info("Re-using previous library instance...");
const std::string Flush = Info("Freeing cached library...") + PhaseLines({"deinit"}) + Info("Freed");
const std::string FreeBlock = ">:{\n"
                              ">:  \"format\": \"clap\",\n"
                              ">:  \"error\": \"\",\n"
                              ">:  \"phase\": \"\"\n"
                              ">:}\n";

const std::string EffectModuleBlock = R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 1,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.orvanta-effect", "name": "Orvanta CLAP Effect", "vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/effect", "manualUrl": "", "supportUrl": "", "version": "1.2.3", "description": "A stereo effect", "features": ["audio-effect", "stereo"], "clapVersion": "1.2.2", "cut": [], "vst3": ""}
>:  ],
>:  "converters": []
>:}
)";

// The sidechain input is listed, but the channels are the main port's.
const std::string EffectPluginBlock = R"(>:{
>:  "format": "clap",
>:  "id": "com.zandrel.orvanta-effect",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 2,
>:  "audioOutputPorts": 1,
>:  "audioInputs": 2,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 0,
>:  "noteOutputPorts": 0,
>:  "gui": false,
>:  "ports": [
>:    {"kind": "audio", "direction": "in", "index": 0, "id": 0, "name": "Stereo In", "channels": 2, "flags": 1, "portType": "stereo"},
>:    {"kind": "audio", "direction": "in", "index": 1, "id": 2, "name": "Sidechain", "channels": 2, "flags": 0, "portType": "stereo"},
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 1, "name": "Stereo Out", "channels": 2, "flags": 1, "portType": "stereo"}
>:  ]
>:}
)";

// ------------------------------------------------------------ good modules

// The effect crashes in get_factory without init first and in deinit while
// an instance lives, refuses init without a ".clap" path and its plugin's
// init without the server's host record: these transcripts hold only when
// the server keeps that order and hands over what it should.
TEST_F(ClapScan, EffectModuleThenItsPluginThenTheFreeRequest)
{
    const std::string module = ClapLine(ClapBinary(L"ClapEffect"));
    const std::string effect = ClapLine(ClapBinary(L"ClapEffect"), "com.zandrel.orvanta-effect");
    EXPECT_EQ(Scan(module), ClapModuleOpening(module) + Open + ReadModule + ClapKeepLines + EffectModuleBlock + Ready);
    EXPECT_EQ(Scan(effect), ClapPluginOpening(effect) + Reuse + ReadPlugin + ClapKeepLines + EffectPluginBlock + Ready);
    const std::string opening = Info("Freeing the cached module on request...");
    EXPECT_EQ(Scan("clap|"), opening + Flush + Info("Finished") + FreeBlock + Ready);
    EXPECT_EQ(Scan("clap|"), opening + Info("Finished") + FreeBlock + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

// A plugin request for a module that is not loaded loads it itself; the
// module is freed when the host closes the pipe.
TEST_F(ClapScan, PluginRequestLoadsItsModuleItself)
{
    const std::string effect = ClapLine(ClapBinary(L"ClapEffect"), "com.zandrel.orvanta-effect");
    EXPECT_EQ(Scan(effect), ClapPluginOpening(effect) + Open + ReadPlugin + ClapKeepLines + EffectPluginBlock + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), Flush);
    EXPECT_EQ(server.WaitExit(), 0u);
}

TEST_F(ClapScan, InstrumentWithANoteInput)
{
    const std::string module = ClapLine(ClapBinary(L"ClapInstrument"));
    const std::string instrument = ClapLine(ClapBinary(L"ClapInstrument"), "com.zandrel.orvanta-instrument");
    EXPECT_EQ(Scan(module), ClapModuleOpening(module) + Open + ReadModule + ClapKeepLines + R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 1,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.orvanta-instrument", "name": "Orvanta CLAP Instrument", "vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/instrument", "manualUrl": "", "supportUrl": "", "version": "0.9.1", "description": "A test instrument", "features": ["instrument", "synthesizer", "stereo"], "clapVersion": "1.2.2", "cut": [], "vst3": ""}
>:  ],
>:  "converters": []
>:}
)" + Ready);
    EXPECT_EQ(Scan(instrument), ClapPluginOpening(instrument) + Reuse + ReadPlugin + ClapKeepLines + R"(>:{
>:  "format": "clap",
>:  "id": "com.zandrel.orvanta-instrument",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 0,
>:  "audioOutputPorts": 1,
>:  "audioInputs": 0,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 1,
>:  "noteOutputPorts": 0,
>:  "gui": false,
>:  "ports": [
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 0, "name": "Stereo Out", "channels": 2, "flags": 1, "portType": "stereo"},
>:    {"kind": "note", "direction": "in", "index": 0, "id": 0, "name": "Notes", "dialects": 3, "preferred": 1}
>:  ]
>:}
)" + Ready);
}

// Three plugins in one factory, each in a request of its own against the
// one loaded module. The chorus's second output cannot be described: it is
// counted, not listed; its first output has no port type.
TEST_F(ClapScan, SuitePluginsEachInARequestOfTheirOwn)
{
    const std::wstring binary = ClapBinary(L"ClapSuite");
    const std::string module = ClapLine(binary);
    EXPECT_EQ(Scan(module), ClapModuleOpening(module) + Open + ReadModule + ClapKeepLines + R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 3,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.suite.chorus", "name": "Suite Chorus", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "3.0.0", "description": "", "features": ["audio-effect", "chorus", "mono"], "clapVersion": "1.2.2", "cut": [], "vst3": ""},
>:    {"index": 1, "problem": "", "id": "com.zandrel.suite.refuser", "name": "Suite Refuser", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "3.0.0", "description": "", "features": ["audio-effect"], "clapVersion": "1.2.2", "cut": [], "vst3": ""},
>:    {"index": 2, "problem": "", "id": "com.zandrel.suite.hollow", "name": "Suite Hollow", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "3.0.0", "description": "", "features": ["audio-effect"], "clapVersion": "1.2.2", "cut": [], "vst3": ""}
>:  ],
>:  "converters": []
>:}
)" + Ready);
    const std::string chorus = ClapLine(binary, "com.zandrel.suite.chorus");
    EXPECT_EQ(Scan(chorus), ClapPluginOpening(chorus) + Reuse + ReadPlugin + ClapKeepLines + R"(>:{
>:  "format": "clap",
>:  "id": "com.zandrel.suite.chorus",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 1,
>:  "audioOutputPorts": 2,
>:  "audioInputs": 1,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 0,
>:  "noteOutputPorts": 1,
>:  "gui": false,
>:  "ports": [
>:    {"kind": "audio", "direction": "in", "index": 0, "id": 0, "name": "Mono In", "channels": 1, "flags": 1, "portType": "mono"},
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 1, "name": "Wide Out", "channels": 2, "flags": 1, "portType": ""},
>:    {"kind": "note", "direction": "out", "index": 0, "id": 7, "name": "Tap Out", "dialects": 2, "preferred": 2}
>:  ]
>:}
)" + Ready);
}

// A plugin request that fails destroys the instance when there is one with
// a destroy, and keeps the module for the next request.
TEST_F(ClapScan, FailedPluginRequestsKeepTheModule)
{
    struct Case
    {
        std::string id;
        std::vector<std::string> phases;
        std::string error, phase;
    };
    const std::wstring binary = ClapBinary(L"ClapSuite");
    const std::vector<Case> cases = {
        {"com.zandrel.suite.refuser", {"create_plugin", "plugin init", "destroy"}, "plugin init returned false",
         "plugin init"},
        {"com.zandrel.suite.hollow", {"create_plugin", "destroy"}, "the plugin has no init, destroy or get_extension",
         "create_plugin"},
        {"com.zandrel.suite.missing", {"create_plugin"}, "create_plugin returned NULL", "create_plugin"},
    };
    Scan(ClapLine(binary));
    for (const Case& c : cases)
    {
        const std::string line = ClapLine(binary, c.id);
        EXPECT_EQ(Scan(line), ClapPluginOpening(line) + Reuse + PhaseLines(c.phases) + ClapKeepLines +
                                  Error(c.error) + ">:{\n"
                                  ">:  \"format\": \"clap\",\n"
                                  ">:  \"id\": \"" + c.id + "\",\n"
                                  ">:  \"error\": \"" + c.error + "\",\n"
                                  ">:  \"phase\": \"" + c.phase + "\",\n"
                                  ">:  \"audioInputPorts\": 0,\n"
                                  ">:  \"audioOutputPorts\": 0,\n"
                                  ">:  \"audioInputs\": 0,\n"
                                  ">:  \"audioOutputs\": 0,\n"
                                  ">:  \"noteInputPorts\": 0,\n"
                                  ">:  \"noteOutputPorts\": 0,\n"
                                  ">:  \"gui\": false,\n"
                                  ">:  \"ports\": []\n"
                                  ">:}\n" + Ready)
            << c.id;
    }
}

// The VST3 class and the VST 2 plugin the module declares through the two
// factories made for that; the converter factory's null descriptor is
// skipped.
TEST_F(ClapScan, LinksToOtherFormatsThroughTheirFactories)
{
    const std::string module = ClapLine(ClapBinary(L"ClapLinked"));
    EXPECT_EQ(Scan(module), ClapModuleOpening(module) + Open + ReadModule + ClapKeepLines + R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.2.2",
>:  "pluginCount": 1,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.orvanta-linked", "name": "Orvanta Linked", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "2.0.0", "description": "Successor of a VST 2 plugin", "features": ["audio-effect"], "clapVersion": "1.2.2", "cut": [], "vst3": "0123456789ABCDEF0123456789ABCDEF"}
>:  ],
>:  "converters": [
>:    {"srcAbi": "vst2", "srcId": "1399670118", "dstAbi": "clap", "dstId": "com.zandrel.orvanta-linked"}
>:  ]
>:}
)" + Ready);
}

// The ARA factory is named by the ID that answered (the current one first,
// then the older draft one) and never called; likewise the GUI extension is
// only asked for.
TEST_F(ClapScan, AraFactoryAndGuiExtensionAreNamedNotCalled)
{
    const struct
    {
        std::string request, lines;
    } rows[] = {
        {ClapLine(ClapBinary(L"ClapAra")),
         ">:  \"pluginCount\": 1,\n>:  \"araFactory\": \"org.ara-audio.ara.factory\\/2\",\n"},
        {ClapLine(ClapBinary(L"ClapAraDraft")),
         ">:  \"pluginCount\": 1,\n>:  \"araFactory\": \"org.ara-audio.ara.factory.draft\\/2\",\n"},
        {ClapLine(ClapBinary(L"ClapAra"), "com.zandrel.orvanta-ara"),
         ">:  \"noteOutputPorts\": 0,\n>:  \"gui\": true,\n>:  \"ports\": [\n"},
        {ClapLine(ClapBinary(L"ClapAraDraft"), "com.zandrel.orvanta-ara-draft"),
         ">:  \"noteOutputPorts\": 0,\n>:  \"gui\": false,\n>:  \"ports\": [\n"},
    };
    for (const auto& row : rows)
    {
        std::string answer = Scan(row.request);
        EXPECT_NE(answer.find(row.lines), std::string::npos) << answer;
        EXPECT_EQ(answer.find("error:"), std::string::npos) << answer;
    }
}

// ------------------------------------------------------ failures on the way in

// Each module is freed before its request ends (deinit only after an init
// that returned true) and never kept: the next request loads afresh, and
// the end frees nothing.
TEST_F(ClapScan, ModulesThatFailOnTheWayInAreNotKept)
{
    struct Case
    {
        std::wstring module;
        std::string lines, error, phase, clapVersion;
    };
    const std::string freeing = Info("Freeing library...");
    const std::vector<Case> cases = {
        {ClapBinary(L"NoSuchModule"), PhaseLines({"load"}), "Failed to load library, err=126", "load", ""},
        {Vst3Binary(L"Vst3Instrument"), PhaseLines({"load", "clap_entry"}) + freeing,
         "clap_entry not found, not a CLAP module", "clap_entry", ""},
        {ClapBinary(L"ClapVersionZero"), PhaseLines({"load", "clap_entry"}) + freeing,
         "clap_entry version 0.0.0 is not 1.0 or later", "clap_entry", "0.0.0"},
        {ClapBinary(L"ClapNoDeinit"), PhaseLines({"load", "clap_entry"}) + freeing,
         "clap_entry has no init, deinit or get_factory", "clap_entry", "1.2.2"},
        {ClapBinary(L"ClapInitFalse"), PhaseLines({"load", "clap_entry", "init"}) + freeing, "init returned false",
         "init", "1.2.2"},
        {ClapBinary(L"ClapNoFactory"), Open + freeing + PhaseLines({"deinit"}), "no plugin factory", "get_factory",
         "1.2.2"},
    };
    for (const Case& c : cases)
    {
        const std::string line = ClapLine(c.module);
        EXPECT_EQ(Scan(line), ClapModuleOpening(line) + c.lines + Info("Finished") + Error(c.error) +
                                  ">:{\n"
                                  ">:  \"format\": \"clap\",\n"
                                  ">:  \"error\": \"" + c.error + "\",\n"
                                  ">:  \"phase\": \"" + c.phase + "\",\n"
                                  ">:  \"clapVersion\": \"" + c.clapVersion + "\",\n"
                                  ">:  \"pluginCount\": 0,\n"
                                  ">:  \"araFactory\": \"\",\n"
                                  ">:  \"plugins\": [],\n"
                                  ">:  \"converters\": []\n"
                                  ">:}\n" + Ready)
            << line;
    }
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
}

// ------------------------------------------------------ the shared cache

// A request without a plugin ID loads nothing and leaves the cached module
// alone; a request of another format frees it, deinit included.
TEST_F(ClapScan, EmptyPluginIdKeepsTheCacheAndAnotherFormatFreesIt)
{
    const std::wstring binary = ClapBinary(L"ClapEffect");
    Scan(ClapLine(binary));
    const std::string empty = ClapLine(binary) + ">";
    EXPECT_EQ(Scan(empty), ClapPluginOpening(empty) + Info("Finished") + Error("Plugin ID is empty") + R"(>:{
>:  "format": "clap",
>:  "id": "",
>:  "error": "Plugin ID is empty",
>:  "phase": "",
>:  "audioInputPorts": 0,
>:  "audioOutputPorts": 0,
>:  "audioInputs": 0,
>:  "audioOutputs": 0,
>:  "noteInputPorts": 0,
>:  "noteOutputPorts": 0,
>:  "gui": false,
>:  "ports": []
>:}
)" + Ready);
    const std::string effect = ClapLine(binary, "com.zandrel.orvanta-effect");
    EXPECT_EQ(Scan(effect), ClapPluginOpening(effect) + Reuse + ReadPlugin + ClapKeepLines + EffectPluginBlock + Ready);

    const std::string vst3 = Vst3Line(Vst3Binary(L"Vst3Instrument"));
    std::string answer = Scan(vst3);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")), Vst3ModuleOpening(vst3) + Flush +
                                                        PhaseLines({"load", "GetPluginFactory", "setHostContext",
                                                                    "factory info", "class info"}) +
                                                        Vst3KeepLines);
}

// ------------------------------------------------------------ DPF

// A real plugin framework's CLAP code: the DPF gain fixture
// (tests/plugins/dpf), as DistrhoPluginInfo.h and DpfGain.cpp declare it:
// its CLAP ID, name, maker, description and features (DPF leaves the URLs
// and the version empty, and declares the CLAP version it was written for);
// two inputs and two outputs in one main port each; a MIDI input.
TEST_F(ClapScan, DpfBuildSaysWhatTheSourceDeclares)
{
    std::wstring module = FixtureBinPath(L"dpf\\DpfGain.clap");
    ASSERT_TRUE(Exists(module)) << "the DPF fixture was not built";
    std::string answer = Scan(ClapLine(module));
    EXPECT_EQ(answer.substr(answer.find(">:{")), R"(>:{
>:  "format": "clap",
>:  "error": "",
>:  "phase": "",
>:  "clapVersion": "1.1.1",
>:  "pluginCount": 1,
>:  "araFactory": "",
>:  "plugins": [
>:    {"index": 0, "problem": "", "id": "com.zandrel.orvanta-dpf-gain", "name": "Orvanta DPF Gain", "vendor": "Zandrel Software", "url": "", "manualUrl": "", "supportUrl": "", "version": "", "description": "Halves the level of a stereo signal.", "features": ["audio-effect", "stereo"], "clapVersion": "1.1.1", "cut": [], "vst3": ""}
>:  ],
>:  "converters": []
>:}
)" + Ready);
    answer = Scan(ClapLine(module, "com.zandrel.orvanta-dpf-gain"));
    EXPECT_EQ(answer.substr(answer.find(">:{")), R"(>:{
>:  "format": "clap",
>:  "id": "com.zandrel.orvanta-dpf-gain",
>:  "error": "",
>:  "phase": "",
>:  "audioInputPorts": 1,
>:  "audioOutputPorts": 1,
>:  "audioInputs": 2,
>:  "audioOutputs": 2,
>:  "noteInputPorts": 1,
>:  "noteOutputPorts": 0,
>:  "gui": false,
>:  "ports": [
>:    {"kind": "audio", "direction": "in", "index": 0, "id": 0, "name": "Audio Input", "channels": 2, "flags": 1, "portType": ""},
>:    {"kind": "audio", "direction": "out", "index": 0, "id": 0, "name": "Audio Output", "channels": 2, "flags": 1, "portType": ""},
>:    {"kind": "note", "direction": "in", "index": 0, "id": 0, "name": "Event\/MIDI Input", "dialects": 2, "preferred": 2}
>:  ]
>:}
)" + Ready);
}

} // namespace
