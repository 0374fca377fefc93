// What orvanta-scan finds and how, run as a user runs it: the standard
// folders when no path is given, --formats, --fast from moduleinfo.json,
// a bundle changed by any of its files, and the per-user database.
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

const char* const GainInfo = R"json5({
  "Factory Info": {"Vendor": "Zandrel Software", "URL": "", "E-Mail": "", "Flags": {"Unicode": true}},
  "Classes": [
    // The processor, then its controller.
    {"CID": "5653544753616D706C65476169700000", "Category": "Audio Module Class", "Name": "Gain",
     "Vendor": "Zandrel Software", "Version": "1.2.3", "SDKVersion": "VST 3.7.9", "Sub Categories": ["Fx"],
     "Class Flags": 1, "Cardinality": 2147483647,},
    {"CID": "5653454753616D706C65476169700000", "Category": "Component Controller Class", "Name": "Gain",
     "Vendor": "Zandrel Software", "Version": "1.2.3", "SDKVersion": "VST 3.7.9", "Sub Categories": [],
     "Class Flags": 0, "Cardinality": 2147483647,},
  ],
})json5";

const uint64_t Dec8 = 134412108752500000ull; // 2026-12-08T13:41:15.250Z

// The status of each entry by path, in the database's order.
std::vector<std::pair<std::string, std::string>> Statuses(const json& document)
{
    std::vector<std::pair<std::string, std::string>> statuses;
    for (const json& module : document["modules"])
        statuses.emplace_back(module["path"], module["status"]);
    return statuses;
}

// A bundle whose binary is no DLL at all: listed from its moduleinfo.json
// it is ok; loaded by a server, it fails.
std::wstring GainBundle(const std::wstring& folder, const char* info = GainInfo)
{
    return MakeBundle(folder, L"Gain.vst3", std::string("not a DLL"), std::string(info));
}

} // namespace

TEST(CliFast, BundleIsListedFromItsModuleInfoWithoutLoadingAnyOfItsCode)
{
    ScratchFolder scratch;
    std::wstring bundle = GainBundle(scratch / L"plugins");
    std::wstring db = scratch / L"plugins.json";

    ProcessRun fast = RunTool({L"--db", db, L"--fast", L"--json", scratch / L"plugins"});
    EXPECT_EQ(fast.exitCode, 0u) << fast.err;
    json document = ReadJson(db);
    EXPECT_EQ(Statuses(document), (std::vector<std::pair<std::string, std::string>>{{Utf8(bundle), "ok"}}));
    EXPECT_EQ(document["modules"][0]["attempts"], 0);
    EXPECT_EQ(document["modules"][0]["format"], "vst3");
    EXPECT_EQ(document["modules"][0]["moduleInfoOnly"], true);
    ASSERT_EQ(document["modules"][0]["plugins"].size(), 2u);
    EXPECT_EQ(document["modules"][0]["plugins"][0], json::parse(R"({
        "id": "5653544753616D706C65476169700000", "status": "ok", "attempts": 0,
        "category": "Audio Module Class", "name": "Gain", "vendor": "Zandrel Software",
        "version": "1.2.3", "sdkVersion": "VST 3.7.9", "subCategories": ["Fx"],
        "classFlags": 1, "cardinality": 2147483647, "sources": ["moduleinfo.json"]})"));
    EXPECT_EQ(json::parse(fast.out), document);

    // Without --fast the same bundle goes to a server, which cannot load
    // what is no DLL.
    ProcessRun scanned = RunTool({L"--db", db, L"--rescan", scratch / L"plugins"});
    EXPECT_EQ(scanned.exitCode, 1u) << scanned.out;
    EXPECT_EQ(Statuses(ReadJson(db)), (std::vector<std::pair<std::string, std::string>>{{Utf8(bundle), "failed"}}));
}

TEST(CliFast, BundleWhoseModuleInfoIsNotCleanIsScannedAsUsual)
{
    ScratchFolder scratch;
    MakeFolders(scratch / L"plugins");
    std::wstring broken = MakeBundle(scratch / L"plugins", L"Broken.vst3", std::string("not a DLL"),
                                     std::string("{\"Classes\": [ /* cut off"));
    std::wstring none = MakeBundle(scratch / L"plugins", L"None.vst3", std::string("not a DLL"));
    std::wstring good = GainBundle(scratch / L"plugins");

    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", L"--fast", scratch / L"plugins"});
    EXPECT_EQ(run.exitCode, 1u) << run.out;
    EXPECT_EQ(Statuses(ReadJson(scratch / L"plugins.json")),
              (std::vector<std::pair<std::string, std::string>>{
                  {Utf8(broken), "failed"}, {Utf8(good), "ok"}, {Utf8(none), "failed"}}));
}

TEST(CliFast, TouchingAResourceOfABundleScansItAgain)
{
    ScratchFolder scratch;
    std::wstring bundle = GainBundle(scratch / L"plugins");
    std::wstring resource = bundle + L"\\Contents\\Resources\\Snapshot.png";
    WriteWholeFile(resource, "png");
    for (const wchar_t* file : {L"\\Contents\\x86_64-win\\Gain.vst3", L"\\Contents\\Resources\\moduleinfo.json",
                                L"\\Contents\\Resources\\Snapshot.png"})
        SetLastWrite(bundle + file, Dec8);
    std::vector<std::wstring> args = {L"--db", scratch / L"plugins.json", L"--fast", L"--json", scratch / L"plugins"};

    ProcessRun first = RunTool(args);
    EXPECT_EQ(json::parse(first.out)["modules"].size(), 1u) << first.out;
    ProcessRun second = RunTool(args);
    EXPECT_EQ(json::parse(second.out)["modules"].size(), 0u) << second.out;
    EXPECT_TRUE(Contains(second.err, "Nothing to scan")) << second.err;

    SetLastWrite(resource, Dec8 + 10000000ull);
    ProcessRun third = RunTool(args);
    json touched = json::parse(third.out);
    ASSERT_EQ(touched["modules"].size(), 1u) << third.out;
    EXPECT_EQ(touched["modules"][0]["path"], Utf8(bundle));
}

TEST(CliFormats, RunIsLimitedToTheFormatsAskedAndLeavesTheOthersEntriesAlone)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    std::wstring bundle = GainBundle(plugins);
    std::wstring effect = CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    std::wstring db = scratch / L"plugins.json";
    using Entries = std::vector<std::pair<std::string, std::string>>;

    ProcessRun vst2 = RunTool({L"--db", db, L"--formats", L"vst2", plugins});
    EXPECT_EQ(vst2.exitCode, 0u) << vst2.out;
    EXPECT_EQ(Statuses(ReadJson(db)), (Entries{{Utf8(effect), "ok"}}));

    ProcessRun vst3 = RunTool({L"--db", db, L"--formats", L"VST3", L"--fast", plugins});
    EXPECT_EQ(vst3.exitCode, 0u) << vst3.out;
    EXPECT_EQ(Statuses(ReadJson(db)), (Entries{{Utf8(effect), "ok"}, {Utf8(bundle), "ok"}}));

    // A module of a format not asked for is not dropped when it is gone...
    DeleteFileW(effect.c_str());
    RunTool({L"--db", db, L"--formats", L"vst3", plugins});
    EXPECT_EQ(Statuses(ReadJson(db)), (Entries{{Utf8(effect), "ok"}, {Utf8(bundle), "ok"}}));
    // ...only by a run of its format.
    ProcessRun both = RunTool({L"--db", db, L"--formats", L"vst3,vst2", plugins});
    EXPECT_EQ(both.exitCode, 0u) << both.out;
    EXPECT_EQ(Statuses(ReadJson(db)), (Entries{{Utf8(bundle), "ok"}}));
}

TEST(CliFormats, UnknownFormatIsAUsageError)
{
    ScratchFolder scratch;
    for (const wchar_t* formats : {L"vst2,vst4", L"vst2,", L""})
    {
        SCOPED_TRACE(Utf8(formats));
        ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", L"--formats", formats, scratch.Path()});
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_TRUE(Contains(run.err, "--formats: ")) << run.err;
        EXPECT_FALSE(Exists(scratch / L"plugins.json"));
    }
    ProcessRun run = RunTool({L"--db", scratch / L"plugins.json", L"--formats", L"vst2,vst4", scratch.Path()});
    EXPECT_EQ(run.err, "--formats: unknown format 'vst4' (known: vst2, vst3, clap)\nRun with --help for more information.\n");
}

TEST(CliDatabase, WithoutDbTheDatabaseIsThePerUserOneUnderLocalAppData)
{
    ScratchFolder scratch;
    CopyTo(SamplePath(L"SampleEffect"), scratch.Path(), L"Effect.dll");
    ScopedEnvironment environment;
    environment.Set(L"LOCALAPPDATA", scratch / L"AppData\\Local"); // not there yet

    ProcessRun run = RunTool({scratch.Path()});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    std::wstring db = scratch / L"AppData\\Local\\Orvanta\\orvanta-plugins.json";
    EXPECT_EQ(Statuses(ReadJson(db)),
              (std::vector<std::pair<std::string, std::string>>{{Utf8(scratch / L"Effect.dll"), "ok"}}));
    EXPECT_TRUE(Contains(run.out, "Database: " + Utf8(db) + "\n")) << run.out;
    EXPECT_FALSE(Exists(L"orvanta-plugins.json"));

    environment.Set(L"LOCALAPPDATA", std::nullopt);
    ProcessRun unset = RunTool({scratch.Path()});
    EXPECT_EQ(unset.exitCode, 2u);
    EXPECT_EQ(unset.err, "orvanta-scan: LOCALAPPDATA is not set: --db names the database\n");
}

TEST(CliStandardFolders, WithoutAPathEachFormatsStandardFoldersAreScannedForThatFormat)
{
    // The folders a test can place: Wine sets PROGRAMFILES and
    // COMMONPROGRAMFILES afresh in every process it starts, so the tool sees
    // the prefix's own there (which hold no plugin folders).
    ScratchFolder scratch;
    ScopedEnvironment environment;
    environment.Set(L"LOCALAPPDATA", scratch / L"local");
    environment.Set(L"VST_PATH", scratch / L"vst2" + L";" + scratch / L"more vst2");
    environment.Set(L"CLAP_PATH", scratch / L"clap");
    for (const wchar_t* folder : {L"vst2", L"more vst2", L"local\\Programs\\Common\\VST3", L"clap"})
        MakeFolders(scratch / folder);
    std::wstring vst3 = scratch / L"local\\Programs\\Common\\VST3";
    std::wstring effect = CopyTo(SamplePath(L"SampleEffect"), scratch / L"vst2", L"Effect.dll");
    std::wstring synth = CopyTo(SamplePath(L"SampleSynth"), scratch / L"more vst2", L"Synth.dll");
    std::wstring bundle = GainBundle(vst3);
    // A DLL in a VST3 folder is no VST 2 plugin: not scanned.
    WriteWholeFile(vst3 + L"\\helper.dll", "not a plugin");
    WriteWholeFile(scratch / L"clap\\helper.dll", "not a plugin");

    ProcessRun run = RunTool({L"--fast"});
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_EQ(Statuses(ReadJson(scratch / L"local\\Orvanta\\orvanta-plugins.json")),
              (std::vector<std::pair<std::string, std::string>>{
                  {Utf8(bundle), "ok"}, {Utf8(synth), "ok"}, {Utf8(effect), "ok"}}));
    EXPECT_TRUE(Contains(run.out, "Standard plugin folders:\n  " + Utf8(scratch / L"vst2") + "\n  " +
                                      Utf8(scratch / L"more vst2") + "\n"))
        << run.out;
    // CLAP's folders come last; a DLL there is no VST 2 plugin either.
    EXPECT_TRUE(Contains(run.out, "\n  " + Utf8(vst3) + "\n  " + Utf8(scratch / L"clap") + "\nScanned 3 modules"))
        << run.out;

    // --formats picks whose folders are searched.
    ProcessRun vst3Only = RunTool({L"--formats", L"vst3", L"--rescan", L"--fast", L"--json"});
    EXPECT_EQ(vst3Only.exitCode, 0u) << vst3Only.err;
    EXPECT_EQ(Statuses(json::parse(vst3Only.out)),
              (std::vector<std::pair<std::string, std::string>>{{Utf8(bundle), "ok"}}));
    EXPECT_EQ(vst3Only.err.find(Utf8(scratch / L"vst2")), std::string::npos) << vst3Only.err;
}
