// orvanta-scan --presets run as a real process: a CLAP module's presets
// from its providers and a VST3 bundle's .vstpreset files (good and
// malformed) in a user folder the test points at, kept in the database,
// read again only when a place of them changed, and counted by --list.
#include "build_paths.h"
#include "cli_support.h"
#include "environment.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <gtest/gtest.h>

using namespace testsupport;
using clitest::Contains;
using clitest::RunTool;
using nlohmann::json;

namespace {

const std::string EffectClass = "0123456789ABCDEF0123456789ABCDEF"; // Vst3Effect's audio module class
const std::string Metadata = "<MetaInfo><Attr id=\"MusicalCategory\" value=\"Fx|Delay\" type=\"string\"/></MetaInfo>";

class CliPresets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        environment.Set(L"USERPROFILE", scratch / L"user");
        environment.Set(L"APPDATA", scratch / L"appdata");
        environment.Set(L"PROGRAMDATA", scratch / L"programdata");
        MakeFolders(effectPresets);
        WritePreset(L"Slap.vstpreset", Vst3PresetBytes(EffectClass, {{"Comp", "state"}, {"Info", Metadata}}));
        WritePreset(L"Tape.vstpreset", Vst3PresetBytes(EffectClass, {{"Comp", "state"}}));
        WritePreset(L"Cut.vstpreset", Vst3PresetBytes(EffectClass, {{"Comp", "state"}}).substr(0, 30));
        WritePreset(L"Magic.vstpreset", "VST2" + Vst3PresetBytes(EffectClass, {}).substr(4));
        WritePreset(L"Stranger.vstpreset", Vst3PresetBytes("FEDCBA9876543210FEDCBA9876543210", {}));
    }
    void WritePreset(const std::wstring& name, const std::string& bytes)
    {
        WriteWholeFile(effectPresets + L"\\" + name, bytes);
    }
    ProcessRun Run(std::vector<std::wstring> more = {})
    {
        std::vector<std::wstring> args = {L"--db", db, L"-j", L"1", L"--presets"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(BinPath(L"clap\\ClapPresets.clap"));
        args.push_back(BinPath(L"vst3\\Vst3Effect.vst3"));
        return RunTool(args);
    }
    const json& Module(const json& document, const char* name)
    {
        for (const json& module : document["modules"])
        {
            if (Contains(module["path"].get<std::string>(), name))
                return module;
        }
        static const json none;
        return none;
    }

    ScratchFolder scratch;
    ScopedEnvironment environment;
    std::wstring db = scratch / L"plugins.json";
    std::wstring effectPresets =
        scratch / L"user\\Documents\\VST3 Presets\\Zandrel Software\\Orvanta Test Effect";
};

} // namespace

TEST_F(CliPresets, PresetsOfBothFormatsAreReadAfterTheModulesAndKeptUnderThem)
{
    ProcessRun run = Run();
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(Contains(run.out, "Presets: 12 read for 2 modules (vst3 2, clap 10); 4 findings (in the database).\n"))
        << run.out;

    json document = ReadJson(db);
    const json& effect = Module(document, "Vst3Effect.vst3");
    ASSERT_TRUE(effect.contains("presets")) << effect.dump();
    const json& items = effect["presets"]["items"];
    ASSERT_EQ(items.size(), 2u) << items.dump();
    EXPECT_EQ(items[0]["name"], "Slap");
    EXPECT_EQ(items[0]["file"], Utf8(effectPresets) + "\\Slap.vstpreset");
    EXPECT_EQ(items[0]["plugins"], json::parse(R"([{"abi": "vst3", "id": "0123456789ABCDEF0123456789ABCDEF"}])"));
    EXPECT_EQ(items[0]["extra"], json::parse(R"([["MusicalCategory", "Fx|Delay"]])"));
    EXPECT_EQ(items[1]["name"], "Tape");
    const std::string folder = Utf8(effectPresets) + "\\";
    EXPECT_EQ(effect["presets"]["findings"],
              json({folder + "Cut.vstpreset: cut short: 30 bytes, a header needs 48",
                    folder + "Magic.vstpreset: not a VST3 preset (no 'VST3' at its start)",
                    folder + "Stranger.vstpreset: class ID FEDCBA9876543210FEDCBA9876543210 is not a class of this module"}));
    const json& clap = Module(document, "ClapPresets.clap");
    EXPECT_EQ(clap["presets"]["items"].size(), 10u);
    EXPECT_EQ(clap["presets"]["items"][0]["loadKey"], "bank:0");
    // The module entries themselves are as a run without presets leaves them.
    EXPECT_EQ(effect["status"], "ok");
    EXPECT_EQ(effect["plugins"].size(), 1u);
}

TEST_F(CliPresets, PresetsAreReadAgainOnlyWhereAPlaceOfThemChanged)
{
    ASSERT_EQ(Run().exitCode, 0u);
    ProcessRun same = Run();
    EXPECT_EQ(same.exitCode, 0u) << same.err;
    EXPECT_TRUE(Contains(same.out, "Presets: none to read (no module's presets changed).\n")) << same.out;

    WritePreset(L"Room.vstpreset", Vst3PresetBytes(EffectClass, {{"Comp", "state"}}));
    ProcessRun changed = Run({L"--json"});
    EXPECT_EQ(changed.exitCode, 0u) << changed.err;
    EXPECT_TRUE(Contains(changed.err, "Presets: 3 read for 1 module (vst3 3); 3 findings (in the database).\n"))
        << changed.err;
    json printed = json::parse(changed.out, nullptr, false);
    ASSERT_EQ(printed["modules"].size(), 1u) << changed.out;
    EXPECT_EQ(printed["modules"][0]["presets"]["items"].size(), 3u);
}

TEST_F(CliPresets, ListWithPresetsCountsEachProductsPresets)
{
    ASSERT_EQ(Run().exitCode, 0u);
    ProcessRun list = RunTool({L"--list", L"--presets", L"--db", db});
    EXPECT_EQ(list.exitCode, 0u) << list.err;
    EXPECT_TRUE(Contains(list.out, "Orvanta Test Effect (Zandrel Software): vst3; 2 presets\n")) << list.out;
    // One of the plugin's ten presets names no plugin.
    EXPECT_TRUE(Contains(list.out, "Zandrel Preset Synth (Zandrel Software): clap; 9 presets\n")) << list.out;
    ProcessRun plain = RunTool({L"--list", L"--db", db});
    EXPECT_FALSE(Contains(plain.out, "presets")) << plain.out;
}
