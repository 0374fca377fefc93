// orvanta-scan with the real server over real VST3 modules: the fixture
// bundles and the DPF plugin, whose entries must say what their sources
// declare; a bundle's moduleinfo.json checked against its factory; and a
// mixed folder giving the same database on one server and on two.
#include "build_paths.h"
#include "cli_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <gtest/gtest.h>

using namespace testsupport;
using clitest::RunTool;
using nlohmann::json;

namespace {

// A copy of a fixture bundle, so that a test can add files to it.
std::wstring CopyBundle(const std::wstring& name, const std::wstring& folder,
                        const std::optional<std::string>& moduleInfo)
{
    std::wstring binary = BinPath(L"vst3\\" + name + L"\\Contents\\x86_64-win\\" + name);
    return MakeBundle(folder, name, ReadWholeFile(binary), moduleInfo);
}

// The members a run sets by itself (where, when, how long) taken out.
json Steady(json module)
{
    for (const char* member : {"path", "binary", "size", "modified", "scanMs"})
        module.erase(member);
    return module;
}

} // namespace

TEST(RealVst3, DpfBundleIsRecordedAsItsSourceDeclares)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, L"--formats", L"vst3", BinPath(L"dpf")});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json document = ReadJson(db);
    ASSERT_EQ(document["modules"].size(), 1u);
    // DistrhoPluginInfo.h: name, brand, "Fx|Stereo", two inputs and outputs,
    // MIDI in; DpfGain.cpp: d_version(1, 2, 3). The class ID is DPF's own
    // (the brand and unique IDs in its processor ID); its component names
    // DPF's controller ID, a class the factory does not list.
    EXPECT_EQ(Steady(document["modules"][0]), json::parse(R"({
        "format": "vst3", "machine": "x64", "architectures": ["x86_64-win"], "status": "ok", "attempts": 1,
        "factory": {"vendor": "Zandrel Software", "url": "https://example.com/orvanta", "email": "", "flags": 16},
        "classCount": 1,
        "plugins": [{
            "id": "445046206173636C6E47644F00000000", "status": "ok",
            "category": "Audio Module Class", "name": "Orvanta DPF Gain", "vendor": "Zandrel Software",
            "version": "1.2.3", "sdkVersion": "Travesty 3.7.4", "subCategories": ["Fx", "Stereo"],
            "classFlags": 1, "cardinality": 2147483647, "sources": ["factory", "instance"],
            "audioInputs": 2, "audioOutputs": 2, "audioInputBuses": 1, "audioOutputBuses": 1,
            "eventInputBuses": 1, "eventOutputBuses": 0,
            "controller": "44504620726C63746E47644F00000000", "controllerListed": false}]})"));
}

TEST(RealVst3, ModuleInfoThatDisagreesWithTheFactoryIsRecordedAsFindings)
{
    ScratchFolder scratch;
    // The factory lists Suite Chorus, Suite Delay and Suite Controller.
    const char* info = R"({
      "Classes": [
        {"CID": "5355495445000001A0B0C0D000000001", "Category": "Audio Module Class", "Name": "Suite Chorus",
         "Vendor": "Zandrel Software", "Version": "2.0.0",},
        {"CID": "5355495445000001a0b0c0d000000002", "Category": "Audio Module Class", "Name": "Suite Echo",
         "Vendor": "Zandrel Software", "Version": "3.0.0"},
        // Never built:
        {"CID": "5355495445000001A0B0C0D0000000FF", "Category": "Audio Module Class", "Name": "Suite Reverb"},
      ],
    })";
    std::wstring bundle = CopyBundle(L"Vst3Suite.vst3", scratch / L"plugins", std::string(info));
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, bundle});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json module = ReadJson(db)["modules"][0];
    EXPECT_EQ(module["status"], "ok");
    EXPECT_EQ(module["findings"],
              json::parse(R"([
        "class 5355495445000001A0B0C0D000000001: version '2.0.0' in moduleinfo.json, '3.0.0' from the factory",
        "class 5355495445000001A0B0C0D000000002: name 'Suite Echo' in moduleinfo.json, 'Suite Delay' from the factory",
        "class 5355495445000001A0B0C0D0000000FF ('Suite Reverb'): in moduleinfo.json, not listed by the factory",
        "class 5355495445000001A0B0C0D000000003 ('Suite Controller'): listed by the factory, not in moduleinfo.json"
    ])")) << module.dump(1);
    EXPECT_EQ(module["plugins"].size(), 3u);
}

// The class declares the sample VST 2 effect (536D4566) through its ID made
// into a class ID, and an older class of its own; scanned, and listed from
// the file alone.
TEST(RealVst3, CompatibilityListLinksTheClassToThePluginsItReplaces)
{
    const char* info = R"({
      "Classes": [{"CID": "0123456789ABCDEF0123456789ABCDEF", "Category": "Audio Module Class",
                   "Name": "Orvanta Test Effect", "Vendor": "Zandrel Software", "Version": "1.2.3"}],
      "Compatibility": [{"New": "0123456789abcdef0123456789abcdef",
                         "Old": ["565354536D456673616D706C65206566", "0123456789ABCDEF0123456789ABCD00"]}]})";
    for (const wchar_t* fast : {L"--rescan", L"--fast"})
    {
        ScratchFolder scratch;
        std::wstring bundle = CopyBundle(L"Vst3Effect.vst3", scratch / L"plugins", std::string(info));
        CopyTo(SamplePath(L"SampleEffect"), scratch / L"plugins", L"SampleEffect.dll");
        ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", fast, scratch / L"plugins"});
        ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
        json document = ReadJson(scratch / L"plugins.json");
        EXPECT_EQ(document["modules"][1]["plugins"][0]["replaces"], json::parse(R"([
            {"format": "vst3", "id": "565354536D456673616D706C65206566", "declaredBy": "moduleinfo.json"},
            {"format": "vst2", "id": "536D4566", "declaredBy": "moduleinfo.json"},
            {"format": "vst3", "id": "0123456789ABCDEF0123456789ABCD00", "declaredBy": "moduleinfo.json"}])"))
            << document.dump(1);
        EXPECT_EQ(document["modules"][1].value("moduleInfoOnly", false), std::wstring(fast) == L"--fast");
        EXPECT_EQ(document["products"][0]["plugins"][1]["link"], "declared");
        EXPECT_EQ(document["products"][0]["plugins"][1]["id"], "536D4566");
    }
}

TEST(RealVst3, MalformedModuleInfoIsAFindingAndTheBundleIsStillScanned)
{
    ScratchFolder scratch;
    std::wstring bundle =
        CopyBundle(L"Vst3Effect.vst3", scratch / L"plugins", std::string("{\"Classes\": [ {\"CID\": "));
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, L"--fast", bundle});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json module = ReadJson(db)["modules"][0];
    EXPECT_EQ(module["status"], "ok");
    EXPECT_FALSE(module.contains("moduleInfoOnly"));
    ASSERT_EQ(module["findings"].size(), 1u) << module.dump(1);
    EXPECT_EQ(module["plugins"][0]["sources"], json::parse(R"(["factory", "instance"])"));
}

TEST(RealVst3, MixedFolderGivesTheSameDatabaseOnOneServerAndOnTwoAndASecondRunScansNothing)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    for (const wchar_t* name : {L"Vst3Effect.vst3", L"Vst3Suite.vst3", L"Vst3Instrument.vst3"})
        CopyBundle(name, plugins, std::nullopt);
    CopyTo(BinPath(L"vst3\\Vst3Legacy.vst3"), plugins, L"Vst3Legacy.vst3");
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"SampleEffect.dll");
    CopyTo(SamplePath(L"SampleShell"), plugins, L"SampleShell.dll");

    std::vector<json> documents;
    for (const wchar_t* jobs : {L"1", L"2"})
    {
        std::wstring db = scratch / (std::wstring(L"j") + jobs + L".json");
        ProcessRun run = RunTool({L"--db", db, L"-j", jobs, plugins});
        ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
        json document = ReadJson(db);
        for (json& module : document["modules"])
            module.erase("scanMs");
        documents.push_back(document);

        ProcessRun again = RunTool({L"--db", db, L"-j", jobs, plugins});
        EXPECT_EQ(again.exitCode, 0u);
        EXPECT_NE(again.out.find("Nothing to scan: 6 modules unchanged since the last run"), std::string::npos) << again.out;
    }
    EXPECT_EQ(documents[0], documents[1]);
    std::vector<std::string> formats;
    for (const json& module : documents[0]["modules"])
        formats.push_back(module["format"]);
    EXPECT_EQ(formats, (std::vector<std::string>{"vst2", "vst2", "vst3", "vst3", "vst3", "vst3"}));
}
