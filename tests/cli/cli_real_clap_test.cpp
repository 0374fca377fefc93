// orvanta-scan with the real server over real CLAP modules: the DPF plugin,
// whose entry must say what its source declares, and a folder mixing the
// three formats (a hostile CLAP module too), which must give the same
// database on one server and on two, with each product's formats linked.
#include "build_paths.h"
#include "cli_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "vst3_bundle.h"
#include <gtest/gtest.h>

using namespace testsupport;
using clitest::RunTool;
using nlohmann::json;

namespace {

// A fixture or DPF bundle copied under another folder.
void CopyBundle(const std::wstring& from, const std::wstring& name, const std::wstring& folder)
{
    MakeBundle(folder, name, ReadWholeFile(from + L"\\Contents\\x86_64-win\\" + name), std::nullopt);
}

} // namespace

TEST(RealClap, DpfPluginIsRecordedAsItsSourceDeclares)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, L"--formats", L"clap", BinPath(L"dpf")});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json module = ReadJson(db)["modules"][0];
    for (const char* member : {"path", "size", "modified", "scanMs"})
        module.erase(member);
    // DistrhoPluginInfo.h: the CLAP ID, name, brand, "audio-effect" and
    // "stereo", two inputs and outputs, MIDI in; DpfGain.cpp: the
    // description. DPF leaves the URLs and version empty, speaks CLAP 1.1.1
    // and offers its MIDI input in the MIDI dialect alone; without a UI
    // (DISTRHO_PLUGIN_HAS_UI 0) it has no GUI extension.
    EXPECT_EQ(module, json::parse(R"({
        "format": "clap", "machine": "x64", "status": "ok", "attempts": 1, "clapVersion": "1.1.1", "pluginCount": 1,
        "plugins": [{
            "id": "com.zandrel.orvanta-dpf-gain", "status": "ok",
            "name": "Orvanta DPF Gain", "vendor": "Zandrel Software", "url": "", "manualUrl": "",
            "supportUrl": "", "version": "", "description": "Halves the level of a stereo signal.",
            "features": ["audio-effect", "stereo"], "clapVersion": "1.1.1", "sources": ["descriptor", "instance"],
            "audioInputPorts": 1, "audioOutputPorts": 1, "audioInputs": 2, "audioOutputs": 2,
            "noteInputPorts": 1, "noteOutputPorts": 0,
            "noteInputs": [{"name": "Event/MIDI Input", "dialects": ["midi"], "preferred": "midi"}],
            "noteOutputs": [], "editor": false}]})"))
        << module.dump(1);
}

TEST(RealClap, MixedFolderGivesTheSameDatabaseOnOneServerAndOnTwoWithEachProductsFormatsLinked)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    MakeFolder(plugins);
    for (const wchar_t* name : {L"ClapLinked.clap", L"ClapSuite.clap", L"ClapCrashCreate.clap", L"ClapManyPlugins.clap",
                                L"ClapNullTexts.clap"})
        CopyTo(BinPath(std::wstring(L"clap\\") + name), plugins, name);
    CopyBundle(BinPath(L"vst3\\Vst3Effect.vst3"), L"Vst3Effect.vst3", plugins);
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"SampleEffect.dll");
    CopyTo(BinPath(L"dpf\\DpfGain.clap"), plugins, L"DpfGain.clap");
    CopyTo(BinPath(L"dpf\\DpfGain-vst.dll"), plugins, L"DpfGain-vst.dll");
    CopyBundle(BinPath(L"dpf\\DpfGain.vst3"), L"DpfGain.vst3", plugins);

    std::vector<json> documents;
    std::vector<std::string> lists;
    for (const wchar_t* jobs : {L"1", L"2"})
    {
        std::wstring db = scratch / (std::wstring(L"j") + jobs + L".json");
        ProcessRun run = RunTool({L"--db", db, L"-j", jobs, plugins});
        // ClapCrashCreate crashes in both attempts.
        ASSERT_EQ(run.exitCode, 1u) << run.out << run.err;
        json document = ReadJson(db);
        for (json& module : document["modules"])
            for (const char* member : {"scanMs", "dump"})
                module.erase(member);
        documents.push_back(document);
        lists.push_back(RunTool({L"--list", L"--db", db}).out);
    }
    EXPECT_EQ(documents[0], documents[1]);
    EXPECT_EQ(lists[0], lists[1]);
    // One descriptor repeated up to the server's bound is one plugin.
    const json& many = documents[0]["modules"][2];
    EXPECT_NE(many["path"].get<std::string>().find("ClapManyPlugins.clap"), std::string::npos);
    EXPECT_EQ(many["plugins"].size(), 1u);
    EXPECT_EQ(many["findings"], json::parse(R"([
        "plugin com.zandrel.many: listed 4096 times by the factory; scanned once",
        "the factory says it has 1000000 plugins; the first 4096 were read"])"));
    // DPF declares nothing: its three builds are joined by name and vendor.
    // ClapLinked declares Vst3Effect's class and SampleEffect's ID, whose
    // names differ from its own: joined by the declaration alone. Of
    // ClapSuite's plugins only the chorus initialises. Sparse has no vendor.
    EXPECT_EQ(lists[0], "Sparse: clap\n"
                        "Many (Zandrel Software): clap\n"
                        "Orvanta DPF Gain (Zandrel Software): clap, vst3, vst2 [guessed]\n"
                        "Orvanta Linked (Zandrel Software): clap, vst3, vst2 [declared]\n"
                        "Suite Chorus (Zandrel Software): clap\n");
}
