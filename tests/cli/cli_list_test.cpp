// orvanta-scan --list: the database's products, one a line, from a file
// written here; nothing is scanned or written. A real scan's products are
// listed in cli_real_clap_test.cpp. The blocklist, edited and listed.
#include "cli_support.h"
#include "environment.h"
#include "build_paths.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace testsupport;
using clitest::RunTool;

TEST(ListOption, PrintsTheProductsOfTheDatabaseAndLeavesItAlone)
{
    // A plugin alone, and a VST3 class that declares the VST 2 plugin it
    // replaces.
    const std::string database = R"({"format": 2, "modules": [
      {"path": "C:\\P\\Gain.dll", "format": "vst2", "size": 1, "modified": "x", "status": "ok", "plugins": [
        {"id": "5A47616E", "status": "ok", "name": "ZGain", "vendor": "Zandrel Software"}]},
      {"path": "C:\\P\\Gain.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok", "plugins": [
        {"id": "0123456789ABCDEF0123456789ABCD02", "status": "ok", "category": "Audio Module Class",
         "name": "Zandrel Gain", "vendor": "Zandrel Software",
         "replaces": [{"format": "vst2", "id": "5A47616E", "declaredBy": "moduleinfo.json"}]}]},
      {"path": "C:\\P\\Tone.dll", "format": "vst2", "size": 1, "modified": "x", "status": "ok", "plugins": [
        {"id": "546F6E65", "status": "ok", "name": "Tone", "vendor": "Acme"}]}]})";
    ScratchFolder scratch;
    std::wstring db = scratch / L"plugins.json";
    WriteWholeFile(db, database);
    ProcessRun run = RunTool({L"--list", L"--db", db});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "Tone (Acme): vst2\nZandrel Gain (Zandrel Software): vst3, vst2 [declared]\n");
    EXPECT_EQ(ReadWholeFile(db), database);

    WriteWholeFile(db, "{\"format\": 2, \"modules\": [");
    run = RunTool({L"--list", L"--db", db});
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.err, "orvanta-scan: the database " + Utf8(db) +
                           " is not readable, so it is left as it is: it is not valid JSON\n");

    // The per-user database, not there yet: nothing to list, nothing made.
    ScopedEnvironment environment;
    environment.Set(L"LOCALAPPDATA", scratch / L"local");
    run = RunTool({L"--list"});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists(scratch / L"local"));
}

TEST(BlockOption, BlockedCrashingModuleIsNeverLoadedListedAsBlockedAndScannedAgainOnceUnblocked)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins", db = scratch / L"plugins.json", dumps = scratch / L"dumps";
    MakeFolder(plugins);
    std::wstring crash = CopyTo(SamplePath(L"SampleCrash"), plugins, L"Crash.dll");
    CopyTo(SamplePath(L"SampleEffect"), plugins, L"Effect.dll");
    ProcessRun run = RunTool({L"--block", crash, L"--reason", L"takes hosts down", L"--db", db});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "Blocked: " + Utf8(crash) + "\n");

    run = RunTool({L"--db", db, L"--dumps", dumps, L"-j", L"1", plugins});
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_TRUE(clitest::Contains(run.out, "Blocked (never loaded; --unblock scans them again): 1 module\n  " +
                                               Utf8(crash) + "\n"))
        << run.out;
    EXPECT_TRUE(clitest::Contains(run.err, "blocked  " + Utf8(crash) + " (never loaded)\n")) << run.err;
    EXPECT_EQ(FilesUnder(dumps), std::vector<std::wstring>{});
    run = RunTool({L"--list", L"--db", db});
    EXPECT_TRUE(clitest::Contains(run.out, "Blocked modules:\n  " + Utf8(crash) + " (takes hosts down; since 20"))
        << run.out;

    run = RunTool({L"--unblock", crash, L"--db", db});
    EXPECT_EQ(run.out, "Unblocked: " + Utf8(crash) + "\n");
    run = RunTool({L"--db", db, L"--dumps", dumps, L"-j", L"1", plugins});
    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    EXPECT_EQ(ReadJson(db)["modules"][0]["status"], "crashed");
}
