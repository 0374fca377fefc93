// VST3 modules through the real server, byte for byte: the module and class
// requests of the good fixtures, requests that fail before any class is
// made, the one cached module across requests and formats, and the COM
// apartment the plugin code runs in.
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

class Vst3Scan : public ScanTest
{
};

const std::string EffectCid = "0123456789ABCDEF0123456789ABCDEF";
const std::string InstrumentCid = "4F72764E496E737472756D656E740001";
const std::string ChorusCid = "5355495445000001A0B0C0D000000001";
const std::string DelayCid = "5355495445000001A0B0C0D000000002";
const std::string SuiteControllerCid = "5355495445000001A0B0C0D000000003";

// A fresh load, with and without an exported InitDll.
const std::string OpenWithInitDll = PhaseLines({"load", "InitDll", "GetPluginFactory", "setHostContext"});
const std::string OpenPlain = PhaseLines({"load", "GetPluginFactory", "setHostContext"});
const std::string ReadFactory = PhaseLines({"factory info", "class info"});
const std::string ReadInstance =
    PhaseLines({"createInstance", "initialize", "bus info", "controller", "terminate", "release"});
const std::string Reuse = Info("Re-using previous library instance...");
// Freeing a cached module whose InitDll was called, and one without.
const std::string FlushWithExitDll = Info("Freeing cached library...") +
                                     PhaseLines({"factory release", "ExitDll"}) + Info("Freed");
const std::string FlushPlain = Info("Freeing cached library...") + PhaseLines({"factory release"}) + Info("Freed");

const std::string EffectModuleBlock = R"(>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": true,
>:  "exitDll": true,
>:  "factory": {"vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/plugins", "email": "support@zandrel.example", "flags": 16},
>:  "classCount": 1,
>:  "classes": [
>:    {"index": 0, "cid": "0123456789ABCDEF0123456789ABCDEF", "category": "Audio Module Class", "name": "Orvanta Test Effect", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx|Stereo", "vendor": "Zandrel Software", "version": "1.2.3", "sdkVersion": "VST 3.7.9"}
>:  ]
>:}
)";

// The sidechain input is counted and listed, but its channels are not
// among the inputs: it is auxiliary and not active by default.
const std::string EffectClassBlock = R"(>:{
>:  "format": "vst3",
>:  "cid": "0123456789ABCDEF0123456789ABCDEF",
>:  "error": "",
>:  "phase": "",
>:  "audioInputBuses": 2,
>:  "audioOutputBuses": 1,
>:  "eventInputBuses": 0,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 2,
>:  "audioOutputs": 2,
>:  "controller": "",
>:  "buses": [
>:    {"media": "audio", "direction": "in", "index": 0, "name": "Stereo In", "channels": 2, "busType": 0, "flags": 1},
>:    {"media": "audio", "direction": "in", "index": 1, "name": "Sidechain", "channels": 2, "busType": 1, "flags": 0},
>:    {"media": "audio", "direction": "out", "index": 0, "name": "Stereo Out", "channels": 2, "busType": 0, "flags": 1}
>:  ]
>:}
)";

// ------------------------------------------------------------ good modules

// The effect exports InitDll and ExitDll, crashes in GetPluginFactory
// without InitDll first and in ExitDll while its factory is still held:
// these transcripts hold only when the server keeps that order.
TEST_F(Vst3Scan, EffectModuleThenItsClassThenTheEnd)
{
    const std::string module = Vst3Line(Vst3Binary(L"Vst3Effect"));
    const std::string effect = Vst3Line(Vst3Binary(L"Vst3Effect"), EffectCid);
    EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + OpenWithInitDll + ReadFactory + Vst3KeepLines +
                                EffectModuleBlock + Ready);
    EXPECT_EQ(Scan(effect), Vst3ClassOpening(effect) + Reuse + ReadInstance + Vst3KeepLines +
                                EffectClassBlock + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), FlushWithExitDll);
    EXPECT_EQ(server.WaitExit(), 0u);
}

// "vst3|" alone frees the module held, in a request of its own; with none
// held it only answers.
TEST_F(Vst3Scan, FreeRequestFreesTheModuleHeldInARequestOfItsOwn)
{
    const std::string module = Vst3Line(Vst3Binary(L"Vst3Effect"));
    const std::string freeBlock = ">:{\n"
                                  ">:  \"format\": \"vst3\",\n"
                                  ">:  \"error\": \"\",\n"
                                  ">:  \"phase\": \"\"\n"
                                  ">:}\n";
    const std::string opening = Info("Freeing the cached module on request...");
    Scan(module);
    EXPECT_EQ(Scan("vst3|"), opening + FlushWithExitDll + Info("Finished") + freeBlock + Ready);
    EXPECT_EQ(Scan("vst3|"), opening + Info("Finished") + freeBlock + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

// A class request for a module that is not loaded loads it itself, and a
// lower-case class ID names the same class.
TEST_F(Vst3Scan, ClassRequestLoadsItsModuleItself)
{
    const std::string effect = Vst3Line(Vst3Binary(L"Vst3Effect"), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Scan(effect), Vst3ClassOpening(effect) + OpenWithInitDll + ReadInstance + Vst3KeepLines +
                                EffectClassBlock + Ready);
}

// IPluginFactory2 only, no InitDll or ExitDll; an event input bus. Its
// initialize fails unless the host context answers as a host application
// named "Orvanta Plugin Scanner" that makes nothing.
TEST_F(Vst3Scan, InstrumentOfTheSecondFactoryLevel)
{
    const std::string module = Vst3Line(Vst3Binary(L"Vst3Instrument"));
    const std::string instrument = Vst3Line(Vst3Binary(L"Vst3Instrument"), InstrumentCid);
    EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + OpenPlain + ReadFactory + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": false,
>:  "exitDll": false,
>:  "factory": {"vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/plugins", "email": "support@zandrel.example", "flags": 16},
>:  "classCount": 1,
>:  "classes": [
>:    {"index": 0, "cid": "4F72764E496E737472756D656E740001", "category": "Audio Module Class", "name": "Orvanta Test Instrument", "cardinality": 2147483647, "infoLevel": 2, "classFlags": 3, "subCategories": "Instrument|Synth", "vendor": "Zandrel Software", "version": "0.9.1", "sdkVersion": "VST 3.6.14"}
>:  ]
>:}
)" + Ready);
    EXPECT_EQ(Scan(instrument), Vst3ClassOpening(instrument) + Reuse + ReadInstance + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "cid": "4F72764E496E737472756D656E740001",
>:  "error": "",
>:  "phase": "",
>:  "audioInputBuses": 0,
>:  "audioOutputBuses": 1,
>:  "eventInputBuses": 1,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 0,
>:  "audioOutputs": 2,
>:  "controller": "",
>:  "buses": [
>:    {"media": "audio", "direction": "out", "index": 0, "name": "Stereo Out", "channels": 2, "busType": 0, "flags": 1},
>:    {"media": "event", "direction": "in", "index": 0, "name": "MIDI In", "channels": 16, "busType": 0, "flags": 1}
>:  ]
>:}
)" + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), FlushPlain);
    EXPECT_EQ(server.WaitExit(), 0u);
}

// Three classes in one factory: each audio module class in a request of
// its own against the one loaded module, its component naming the
// controller class; the controller class makes no component.
TEST_F(Vst3Scan, SuiteClassesEachInARequestOfTheirOwn)
{
    const std::wstring binary = Vst3Binary(L"Vst3Suite");
    const std::string module = Vst3Line(binary);
    EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + OpenWithInitDll + ReadFactory + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": true,
>:  "exitDll": true,
>:  "factory": {"vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/plugins", "email": "support@zandrel.example", "flags": 16},
>:  "classCount": 3,
>:  "classes": [
>:    {"index": 0, "cid": "5355495445000001A0B0C0D000000001", "category": "Audio Module Class", "name": "Suite Chorus", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx|Modulation", "vendor": "Zandrel Software", "version": "3.0.0", "sdkVersion": "VST 3.7.9"},
>:    {"index": 1, "cid": "5355495445000001A0B0C0D000000002", "category": "Audio Module Class", "name": "Suite Delay", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx|Delay", "vendor": "Zandrel Software", "version": "3.0.0", "sdkVersion": "VST 3.7.9"},
>:    {"index": 2, "cid": "5355495445000001A0B0C0D000000003", "category": "Component Controller Class", "name": "Suite Controller", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 0, "subCategories": "", "vendor": "Zandrel Software", "version": "3.0.0", "sdkVersion": "VST 3.7.9"}
>:  ]
>:}
)" + Ready);

    const std::string chorus = Vst3Line(binary, ChorusCid);
    std::string answer = Scan(chorus);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")), Vst3ClassOpening(chorus) + Reuse + ReadInstance + Vst3KeepLines);
    EXPECT_NE(answer.find(R"(>:  "audioInputs": 2,)"), std::string::npos) << answer;

    // An event output that is not active by default is still counted.
    const std::string delay = Vst3Line(binary, DelayCid);
    EXPECT_EQ(Scan(delay), Vst3ClassOpening(delay) + Reuse + ReadInstance + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "cid": "5355495445000001A0B0C0D000000002",
>:  "error": "",
>:  "phase": "",
>:  "audioInputBuses": 1,
>:  "audioOutputBuses": 1,
>:  "eventInputBuses": 0,
>:  "eventOutputBuses": 1,
>:  "audioInputs": 1,
>:  "audioOutputs": 2,
>:  "controller": "5355495445000001A0B0C0D000000003",
>:  "buses": [
>:    {"media": "audio", "direction": "in", "index": 0, "name": "Mono In", "channels": 1, "busType": 0, "flags": 1},
>:    {"media": "audio", "direction": "out", "index": 0, "name": "Stereo Out", "channels": 2, "busType": 0, "flags": 1},
>:    {"media": "event", "direction": "out", "index": 0, "name": "Tap Out", "channels": 1, "busType": 0, "flags": 0}
>:  ]
>:}
)" + Ready);

    const std::string controller = Vst3Line(binary, SuiteControllerCid);
    EXPECT_EQ(Scan(controller), Vst3ClassOpening(controller) + Reuse + PhaseLines({"createInstance"}) +
                                    Vst3KeepLines + Error("createInstance failed, result=80004002") + R"(>:{
>:  "format": "vst3",
>:  "cid": "5355495445000001A0B0C0D000000003",
>:  "error": "createInstance failed, result=80004002",
>:  "phase": "createInstance",
>:  "audioInputBuses": 0,
>:  "audioOutputBuses": 0,
>:  "eventInputBuses": 0,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 0,
>:  "audioOutputs": 0,
>:  "controller": "",
>:  "buses": []
>:}
)" + Ready);
}

// A single-file module with a plain IPluginFactory: level 1, and the
// members only the newer interfaces give stay empty.
TEST_F(Vst3Scan, LegacySingleFileOfTheFirstFactoryLevel)
{
    const std::string module = Vst3Line(FixtureBinPath(L"vst3\\Vst3Legacy.vst3"));
    EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + OpenPlain + ReadFactory + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": false,
>:  "exitDll": false,
>:  "factory": {"vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/plugins", "email": "support@zandrel.example", "flags": 16},
>:  "classCount": 1,
>:  "classes": [
>:    {"index": 0, "cid": "4C454741435900010000000000000001", "category": "Audio Module Class", "name": "Legacy Mono", "cardinality": 2147483647, "infoLevel": 1, "classFlags": 0, "subCategories": "", "vendor": "", "version": "", "sdkVersion": ""}
>:  ]
>:}
)" + Ready);
}

// getClassInfoUnicode's texts win over the 8-bit ones ("Plain Name",
// "Plain Vendor"); every character past ASCII is escaped, one outside the
// basic plane as its surrogate pair.
TEST_F(Vst3Scan, UnicodeNamesArePreferred)
{
    const std::string module = Vst3Line(Vst3Binary(L"Vst3UnicodeNames"));
    std::string answer = Scan(module);
    EXPECT_NE(answer.find(R"(>:    {"index": 0, "cid": "554E49434F4445000000000000000001", "category": "Audio Module Class", "name": "\u00dcn\u00efcode N\u00e0me \u266a \ud834\udd1e", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx", "vendor": "Zandrel S\u00f6ftware", "version": "2.0.0", "sdkVersion": "VST 3.7.9"})"
                          "\n"),
              std::string::npos)
        << answer;
}

// getClassInfo and getClassInfo2 refuse every class: each is listed from
// getClassInfoUnicode alone, at level 3, with its empty vendor as given.
TEST_F(Vst3Scan, ClassesOfAFactoryThatAnswersOnlyInUnicode)
{
    const std::string module = Vst3Line(Vst3Binary(L"Vst3UnicodeOnly"));
    EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + OpenPlain + ReadFactory + Vst3KeepLines + R"(>:{
>:  "format": "vst3",
>:  "error": "",
>:  "phase": "",
>:  "initDll": false,
>:  "exitDll": false,
>:  "factory": {"vendor": "Zandrel Software", "url": "https:\/\/zandrel.example\/plugins", "email": "support@zandrel.example", "flags": 16},
>:  "classCount": 2,
>:  "classes": [
>:    {"index": 0, "cid": "5A554E49434F44454F4E4C5900000001", "category": "Audio Module Class", "name": "Gr\u00fc\u00dfe Gain", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 1, "subCategories": "Fx", "vendor": "", "version": "1.0.0", "sdkVersion": "VST 3.7.9"},
>:    {"index": 1, "cid": "5A554E49434F44454F4E4C5900000002", "category": "Component Controller Class", "name": "Gr\u00fc\u00dfe Gain Controller", "cardinality": 2147483647, "infoLevel": 3, "classFlags": 0, "subCategories": "", "vendor": "", "version": "1.0.0", "sdkVersion": "VST 3.7.9"}
>:  ]
>:}
)" + Ready);
}

// ------------------------------------------------------- requests that fail

struct FailedModule
{
    const char* title;
    std::wstring binary;
    std::string lines; // after the opening line, up to "Finished"
    std::string error;
    std::string phase;
    bool initDll, exitDll;
};

// Nothing is kept of a module that failed on its way in: a later request
// loads afresh, and the end of the pipe frees nothing.
TEST_F(Vst3Scan, ModulesThatFailBeforeTheirClasses)
{
    const std::wstring vst2 = Plugin("NotVst3", "name=N\ncategory=1\n");
    const FailedModule cases[] = {
        {"missing file", FixtureBinPath(L"vst3\\Vst3NoBinary.vst3\\Contents\\" + std::wstring(ServerTexts().vst3Folder) +
                                       L"\\Vst3NoBinary.vst3"),
         PhaseLines({"load"}) + Info("Finished"), "Failed to load library, err=126", "load", false, false},
        {"a VST 2 plugin", vst2, PhaseLines({"load"}) + Info("Freeing library...") + Info("Finished"),
         "GetPluginFactory not found, not a VST3 module", "GetPluginFactory", false, false},
        {"null factory", Vst3Binary(L"Vst3NullFactory"),
         PhaseLines({"load", "InitDll", "GetPluginFactory"}) + Info("Freeing library...") +
             PhaseLines({"ExitDll"}) + Info("Finished"),
         "GetPluginFactory returned NULL", "GetPluginFactory", true, true},
    };
    for (const FailedModule& c : cases)
    {
        SCOPED_TRACE(c.title);
        const std::string module = Vst3Line(c.binary);
        const std::string exports = std::string(R"(>:  "initDll": )") + (c.initDll ? "true" : "false") +
                                    ",\n" + R"(>:  "exitDll": )" + (c.exitDll ? "true" : "false") + ",\n";
        EXPECT_EQ(Scan(module), Vst3ModuleOpening(module) + c.lines + Error(c.error) +
                                    ">:{\n"
                                    ">:  \"format\": \"vst3\",\n"
                                    ">:  \"error\": \"" + c.error + "\",\n"
                                    ">:  \"phase\": \"" + c.phase + "\",\n" +
                                    exports +
                                    R"(>:  "factory": {"vendor": "", "url": "", "email": "", "flags": 0},
>:  "classCount": 0,
>:  "classes": []
>:}
)" + Ready);
    }
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

// A class ID that is not 32 hexadecimal digits loads nothing and leaves the
// cached module where it is; a well-formed one the factory does not know
// fails in createInstance.
TEST_F(Vst3Scan, ClassRequestsThatNameNoClass)
{
    const std::wstring binary = Vst3Binary(L"Vst3Effect");
    Scan(Vst3Line(binary));
    const char* badIds[] = {"", "0123", "0123456789ABCDEF0123456789ABCDEF0", "0123456789ABCDEF0123456789ABCDEX"};
    for (const char* id : badIds)
    {
        SCOPED_TRACE(id);
        const std::string line = Vst3Line(binary) + ">" + id;
        EXPECT_EQ(Scan(line), Vst3ClassOpening(line) + Info("Finished") +
                                  Error("Class ID is not 32 hexadecimal digits") +
                                  ">:{\n"
                                  ">:  \"format\": \"vst3\",\n"
                                  ">:  \"cid\": \"" + std::string(id) + "\",\n" +
                                  R"(>:  "error": "Class ID is not 32 hexadecimal digits",
>:  "phase": "",
>:  "audioInputBuses": 0,
>:  "audioOutputBuses": 0,
>:  "eventInputBuses": 0,
>:  "eventOutputBuses": 0,
>:  "audioInputs": 0,
>:  "audioOutputs": 0,
>:  "controller": "",
>:  "buses": []
>:}
)" + Ready);
    }
    const std::string unknown = Vst3Line(binary, "00000000000000000000000000000001");
    std::string answer = Scan(unknown);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")), Vst3ClassOpening(unknown) + Reuse + PhaseLines({"createInstance"}) +
                                                       Vst3KeepLines +
                                                       Error("createInstance failed, result=80070057"));
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), FlushWithExitDll);
}

// ------------------------------------------------- the cache across formats

const std::string PlainBlock = ">:{\n"
                               ">:  \"id\":        \"00000000\",\n"
                               ">:  \"name\":      \"P\",\n"
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
                               ">:}\n";

// A VST 2 request after VST3 ones is answered as it always was; only the
// cached VST3 module's clean-up comes first, where a cached shell's would.
TEST_F(Vst3Scan, Vst2RequestAfterVst3Requests)
{
    std::wstring dll = Plugin("Plain", "name=P\ncategory=1\n");
    // A module that failed leaves nothing behind.
    Scan(Vst3Line(Vst3Binary(L"Vst3NullFactory")));
    std::string first = Scan(dll);
    EXPECT_EQ(first, PlainAnswer(dll, PlainBlock));

    Scan(Vst3Line(Vst3Binary(L"Vst3Effect")));
    std::string second = Scan(dll);
    std::string third = Scan(dll);
    std::vector<std::string> handles = AttachHandles(dll);
    ASSERT_EQ(handles.size(), 3u);
    EXPECT_EQ(second, Info("Scanning plugin: '" + Utf8(dll) + "'") + FlushWithExitDll + Info("Loading library...") +
                          EntryLines(handles[1]) + CloseAndFreeLines() + PlainBlock + Ready);
    EXPECT_EQ(third, LoadLines(Utf8(dll)) + EntryLines(handles[2]) + CloseAndFreeLines() + PlainBlock + Ready);
}

// A cached VST 2 shell goes when a VST3 request comes, as it goes for
// another path.
TEST_F(Vst3Scan, Vst3RequestAfterCachedShell)
{
    std::wstring shell = Plugin("Shell", "name=S\ncategory=10\nshell=0x10 Ten\n");
    Scan(shell);
    const std::string module = Vst3Line(Vst3Binary(L"Vst3Instrument"));
    std::string answer = Scan(module);
    EXPECT_EQ(answer.substr(0, answer.find(">:{")),
              Vst3ModuleOpening(module) + CachedFlush + OpenPlain + ReadFactory + Vst3KeepLines);
}

// -------------------------------------------------------------- COM

// Vst3ComState is a VST3 module and a VST 2 plugin in one file; each
// reports what CoInitializeEx(COINIT_MULTITHREADED) returned on the thread
// that scans it: RPC_E_CHANGED_MODE (80010106) in a single-threaded
// apartment, S_OK (00000000) where COM was not set up.
const std::string ComVendorLine(const std::string& code)
{
    return R"(>:  "factory": {"vendor": "COM )" + code + R"(", "url": "", "email": "", "flags": 0},)" "\n";
}

const std::string ComNameLine(const std::string& code)
{
    return ">:  \"name\":      \"COM " + code + "\",\n";
}

TEST_F(Vst3Scan, Vst3RunsInASingleThreadedApartmentAndVst2WithoutCom)
{
    const std::wstring binary = Vst3Binary(L"Vst3ComState");
    const std::string vst2 = Utf8(binary);
    const std::string vst3 = Vst3Line(binary);

    std::string before = Scan(vst2);
    EXPECT_NE(before.find(ComNameLine("00000000")), std::string::npos) << before;

    std::string module = Scan(vst3);
    EXPECT_NE(module.find(ComVendorLine("80010106")), std::string::npos) << module;

    // The same file as VST 2 is not the cached VST3 module: that one is
    // freed first, and its apartment with it.
    std::string after = Scan(vst2);
    EXPECT_EQ(after.substr(0, after.find("info:Looking for entry point")),
              Info("Scanning plugin: '" + vst2 + "'") + FlushPlain + Info("Loading library..."));
    EXPECT_NE(after.find(ComNameLine("00000000")), std::string::npos) << after;

    std::string again = Scan(vst3);
    EXPECT_NE(again.find(ComVendorLine("80010106")), std::string::npos) << again;
}

} // namespace
