// A CLAP module's presets through the library: the preset-discovery
// providers of real fixture modules, each in a request of its own on a
// real server, a crash or hang in one costing that provider alone.
#include "build_paths.h"
#include "../../client_support.h"
#include "scratch_folder.h"
#include "text.h"
#include <orvanta/scan.h>
#include <gtest/gtest.h>

using namespace clienttest;
using namespace testsupport;
using orvanta::ModulePresets;
using orvanta::ModuleResult;
using orvanta::ModuleScanner;
using orvanta::Status;

namespace {

// The module's presets, after its own scan as a session does it.
std::optional<ModulePresets> PresetsOf(ModuleScanner& scanner, const std::wstring& module)
{
    ModuleResult scanned = scanner.ScanModule(module);
    EXPECT_EQ(scanned.status, Status::ok) << scanned.error;
    return scanner.ScanPresets(scanned);
}

std::vector<std::string> Names(const ModulePresets& presets)
{
    std::vector<std::string> names;
    for (const orvanta::Preset& preset : presets.presets)
        names.push_back(preset.name + "|" + preset.loadKey + "|" + preset.provider);
    return names;
}

} // namespace

TEST(ClapPresetsScan, EachProvidersPresetsComeWithTheirPlacesAndFindings)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    std::optional<ModulePresets> presets = PresetsOf(scanner, BinPath(L"clap\\ClapPresets.clap"));
    ASSERT_TRUE(presets);
    EXPECT_EQ(presets->factory, "clap.preset-discovery-factory/2");
    ASSERT_EQ(presets->providers.size(), 2u);
    EXPECT_EQ(presets->providers[0].id, "com.zandrel.presets.factory");
    EXPECT_EQ(presets->providers[0].status, Status::ok);
    EXPECT_EQ(presets->providers[0].presetCount, 8);
    EXPECT_EQ(presets->providers[0].fileTypes, std::vector<std::string>{"zpreset"});
    EXPECT_EQ(presets->providers[1].id, "com.zandrel.presets.user");
    EXPECT_EQ(presets->providers[1].presetCount, 2);
    EXPECT_EQ(Names(*presets),
              (std::vector<std::string>{"Warm Pad|bank:0|com.zandrel.presets.factory",
                                        "Deep Bass|bank:1|com.zandrel.presets.factory",
                                        "Pluck|bank:2|com.zandrel.presets.factory",
                                        "Lead||com.zandrel.presets.factory",
                                        "Loud|pads:loud|com.zandrel.presets.factory",
                                        "Soft Pad|pads:soft|com.zandrel.presets.factory",
                                        "Init|builtin:init|com.zandrel.presets.factory",
                                        "Bright Keys|builtin:bright-keys|com.zandrel.presets.factory",
                                        "|fav:1|com.zandrel.presets.user",
                                        "My Lead|fav:2|com.zandrel.presets.user"}));
    const std::string folder = Utf8(BinPath(L"clap\\ClapPresets-presets"));
    EXPECT_EQ(Utf8(presets->presets[0].file), folder + "\\Bank.zpreset");
    EXPECT_EQ(presets->presets[6].file, L""); // inside the plugin
    ASSERT_EQ(presets->presets[0].plugins.size(), 1u);
    EXPECT_EQ(presets->presets[0].plugins[0].id, "com.zandrel.preset-synth");
    ASSERT_EQ(presets->locations.size(), 3u);
    EXPECT_EQ(Utf8(presets->locations[0].path), folder);
    EXPECT_EQ(presets->locations[0].stamp.find(" files, newest "), 1u) << presets->locations[0].stamp;
    EXPECT_TRUE(presets->locations[1].inPlugin);
    EXPECT_EQ(presets->findings, std::vector<std::string>{"provider com.zandrel.presets.factory: " + folder +
                                                           "\\Broken.zpreset: not a zpreset file (error 22)"});
}

TEST(ClapPresetsScan, CrashInAProvidersMetadataCostsThatProviderAlone)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    std::optional<ModulePresets> crashed = PresetsOf(scanner, BinPath(L"clap\\ClapPresetsCrashMetadata.clap"));
    ASSERT_TRUE(crashed);
    ASSERT_EQ(crashed->providers.size(), 1u);
    EXPECT_EQ(crashed->providers[0].status, Status::crashed);
    EXPECT_EQ(crashed->providers[0].phase, "metadata");
    EXPECT_EQ(crashed->providers[0].attempts, 2);
    EXPECT_TRUE(crashed->presets.empty());
    std::optional<ModulePresets> next = PresetsOf(scanner, BinPath(L"clap\\ClapPresets.clap"));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->presets.size(), 10u);
}

TEST(ClapPresetsScan, HangInAProvidersInitIsATimeoutNamingThePhase)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch, 3000));
    std::optional<ModulePresets> hung = PresetsOf(scanner, BinPath(L"clap\\ClapPresetsHangInit.clap"));
    ASSERT_TRUE(hung);
    ASSERT_EQ(hung->providers.size(), 1u);
    EXPECT_EQ(hung->providers[0].status, Status::timeout);
    EXPECT_EQ(hung->providers[0].phase, "init");
    EXPECT_EQ(hung->providers[0].error, "no answer within 3000 ms");
}

TEST(ClapPresetsScan, ProviderGivingAMillionPresetsKeepsTheFirstTenThousand)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    std::optional<ModulePresets> many = PresetsOf(scanner, BinPath(L"clap\\ClapPresetsMany.clap"));
    ASSERT_TRUE(many);
    ASSERT_EQ(many->providers.size(), 1u);
    EXPECT_EQ(many->providers[0].presetCount, 1000000);
    EXPECT_EQ(many->presets.size(), 10000u);
    EXPECT_EQ(many->presets.back().name, "Preset 9999");
    EXPECT_NE(std::find(many->findings.begin(), many->findings.end(),
                        "provider " + many->providers[0].id + ": gave 1000000 presets; the first 10000 were kept"),
              many->findings.end());
}
