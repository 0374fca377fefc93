// What a host must know before it loads a plugin, through the real tool and
// server over our own fixtures: classes read as the SDK's host reads them
// (the Unicode level alone, the factory's vendor), ARA in VST3 and CLAP,
// editors in all three formats, and each module's machine.
#include "build_paths.h"
#include "cli_support.h"
#include "json_file.h"
#include "scratch_folder.h"
#include <gtest/gtest.h>

using namespace testsupport;
using clitest::Contains;
using clitest::RunTool;
using nlohmann::json;

namespace {

// The members of each plugin entry named, in the entries' order.
json Pick(const json& plugins, const std::vector<const char*>& members)
{
    json picked = json::array();
    for (const json& plugin : plugins)
    {
        json one = json::object();
        for (const char* member : members)
        {
            if (plugin.contains(member))
                one[member] = plugin[member];
        }
        picked.push_back(one);
    }
    return picked;
}

} // namespace

// Its factory answers only getClassInfoUnicode and leaves every class vendor
// empty; its moduleinfo.json is written as the SDK's tool writes it (the
// factory's vendor on each class), so it agrees: no finding.
TEST(HostFacts, UnicodeOnlyFactoryListsEveryClassWithTheFactorysVendorAndNoFinding)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, BinPath(L"vst3\\Vst3UnicodeOnly.vst3")});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_FALSE(Contains(run.out, "Findings")) << run.out;
    json module = ReadJson(db)["modules"][0];
    EXPECT_FALSE(module.contains("findings")) << module;
    EXPECT_EQ(module["machine"], "x64");
    EXPECT_EQ(module["architectures"], json::parse(R"(["x86_64-win"])"));
    EXPECT_EQ(Pick(module["plugins"], {"id", "status", "name", "vendor", "vendorFrom", "controller", "controllerListed"}),
              json::parse(R"([
        {"id": "5A554E49434F44454F4E4C5900000001", "status": "ok", "name": "Grüße Gain",
         "vendor": "Zandrel Software", "vendorFrom": "factory",
         "controller": "5A554E49434F44454F4E4C5900000002", "controllerListed": true},
        {"id": "5A554E49434F44454F4E4C5900000002", "status": "ok", "name": "Grüße Gain Controller",
         "vendor": "Zandrel Software", "vendorFrom": "factory"}])"));
    // Named now, it is a product of its vendor.
    EXPECT_EQ(RunTool({L"--list", L"--db", db}).out, "Grüße Gain (Zandrel Software): vst3\n");
}

// The ARA class pairs with the audio module class of its name, whether the
// classes come from the factory or from moduleinfo.json alone (--fast).
TEST(HostFacts, AraMainFactoryClassMarksItsAudioModuleClassAlsoFromModuleInfoAlone)
{
    ScratchFolder scratch;
    for (bool fast : {false, true})
    {
        std::wstring db = scratch / (fast ? L"fast.json" : L"full.json");
        std::vector<std::wstring> args = {L"--db", db, BinPath(L"vst3\\Vst3Ara.vst3")};
        if (fast)
            args.push_back(L"--fast");
        ProcessRun run = RunTool(args);
        ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
        json module = ReadJson(db)["modules"][0];
        EXPECT_EQ(module.contains("moduleInfoOnly"), fast);
        EXPECT_FALSE(module.contains("findings")) << module;
        EXPECT_EQ(Pick(module["plugins"], {"category", "ara"}), json::parse(R"([
            {"category": "Audio Module Class",
             "ara": {"required": false, "factoryClass": "4F415241454646454354000000000002"}},
            {"category": "ARA Main Factory Class"},
            {"category": "Component Controller Class"}])"))
            << (fast ? "--fast" : "scanned");
    }
}

// The ARA factory (final or draft ID) and the features, and whether the
// instance answers the GUI extension.
TEST(HostFacts, ClapAraFactoryFeaturesAndGuiExtensionAreRecorded)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool({L"--db", db, BinPath(L"clap\\ClapAra.clap"), BinPath(L"clap\\ClapAraDraft.clap")});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json modules = ReadJson(db)["modules"];
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0]["machine"], "x64");
    EXPECT_EQ(Pick(modules[0]["plugins"], {"ara", "editor"}), json::parse(R"([
        {"ara": {"required": false, "factory": "org.ara-audio.ara.factory/2", "feature": true}, "editor": true}])"));
    EXPECT_EQ(Pick(modules[1]["plugins"], {"ara", "editor"}), json::parse(R"([
        {"ara": {"required": true, "factory": "org.ara-audio.ara.factory.draft/2", "feature": true},
         "editor": false}])"));
}

// effFlagsHasEditor, for a module's own plugin and a shell's sub-plugins.
TEST(HostFacts, Vst2EditorFlagIsRecordedForPluginsAndSubPlugins)
{
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    ProcessRun run = RunTool(
        {L"--db", db, SamplePath(L"SampleEffect"), SamplePath(L"SampleSynth"), SamplePath(L"SampleShell")});
    ASSERT_EQ(run.exitCode, 0u) << run.out << run.err;
    json modules = ReadJson(db)["modules"];
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0]["machine"], "x64");
    EXPECT_EQ(Pick(modules[0]["plugins"], {"name", "editor"}),
              json::parse(R"([{"name": "Sample Effect", "editor": true}])"));
    EXPECT_EQ(Pick(modules[1]["plugins"], {"name", "editor"}), json::parse(R"([
        {"name": "Sample Shell", "editor": false},
        {"name": "Sample Shell Chorus", "editor": true},
        {"name": "Sample Shell Delay", "editor": false}])"));
    EXPECT_EQ(Pick(modules[2]["plugins"], {"name", "editor"}),
              json::parse(R"([{"name": "Sample Synth", "editor": false}])"));
}
