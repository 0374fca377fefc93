// orvanta-scan over a VST 2 module and a VST3 module in one run, both
// answered by the stand-in server from a script of the server's exchange:
// the format in the progress lines, the counts per format in the summary,
// the VST3 members in the database and in --json, a second run that finds
// both unchanged, and the same database from two servers at once.
#include "build_paths.h"
#include "cli_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "server_script.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace testsupport;
using namespace testsupport::vst3answers;
using clitest::Contains;
using clitest::RunTool;
using nlohmann::json;

TEST(CliVst3, MixedRunShowsEachFormatAndKeepsTheVst3Members)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    MakeFolder(plugins);
    std::wstring effect = plugins + L"\\Effect.dll";
    std::wstring multi = plugins + L"\\Multi.vst3";
    WriteWholeFile(effect, "answered by the script");
    WriteWholeFile(multi, "answered by the script, a single-file module");
    std::wstring db = scratch / L"plugins.json";
    std::wstring script = scratch / L"server.script";
    const std::string effectAnswer = "= vst2|" + Utf8(effect) + "\n"
                                     ">:{\n"
                                     ">:  \"id\":        \"45666678\",\n"
                                     ">:  \"name\":      \"Effect\",\n"
                                     ">:  \"vendor\":    \"Zandrel Software\",\n"
                                     ">:  \"product\":   \"\",\n"
                                     ">:  \"version\":   \"1.0.0.0\",\n"
                                     ">:  \"error\":     \"\",\n"
                                     ">:  \"numInputs\": 2,\n"
                                     ">:  \"numOutputs\":2,\n"
                                     ">:  \"wantsMidi\":  false,\n"
                                     ">:  \"sendsMidi\": false,\n"
                                     ">:  \"platform\":  \"x64\",\n"
                                     ">:  \"audio64\":   false,\n"
                                     ">:  \"category\":  1,\n"
                                     ">:  \"synthEdit\": false,\n"
                                     ">:}\n";
    std::string crash = GainCrashIn("initialize");
    PlayServerScript(script, effectAnswer + Module + crash + crash + Synth, Utf8(multi));
    const std::vector<std::wstring> args = {L"--db", db, L"--server", BinPath(L"fakeserver.exe"), L"-j", L"1",
                                            L"--json", effect, multi};

    ProcessRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    EXPECT_TRUE(Contains(run.err, "[1/2] ok      " + Utf8(effect) + " (vst2, ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "[2/2] ok      " + Utf8(multi) + " (vst3, ")) << run.err;
    EXPECT_TRUE(Contains(run.err, ", 3 plugins)\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Plugins: 3 ok, 1 crashed.\n"
                                  "  vst2: 1 module (1 ok), 1 plugin (1 ok).\n"
                                  "  vst3: 1 module (1 ok), 3 plugins (2 ok, 1 crashed).\n"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "  " + Utf8(multi) + ">" + GainId +
                                      " (Sample Gain): crashed in initialize: crashed during the request (no dump "
                                      "file found)\n"))
        << run.err;

    json document = ReadJson(db);
    EXPECT_EQ(document["format"], 5);
    json printed = json::parse(run.out, nullptr, false);
    EXPECT_EQ(printed, document) << run.out;
    ASSERT_EQ(document["modules"].size(), 2u);
    const json& vst2 = document["modules"][0];
    EXPECT_EQ(vst2["format"], "vst2");
    EXPECT_FALSE(vst2.contains("binary"));
    const json& vst3 = document["modules"][1];
    EXPECT_EQ(vst3["path"], Utf8(multi));
    EXPECT_EQ(vst3["format"], "vst3");
    EXPECT_EQ(vst3["binary"], Utf8(multi));
    EXPECT_EQ(vst3["status"], "ok");
    EXPECT_EQ(vst3["factory"], json::parse(R"({"vendor": "Zandrel Software", "url": "https://example.com",
                                                "email": "info@example.com", "flags": 16})"));
    EXPECT_EQ(vst3["classCount"], 3);
    ASSERT_EQ(vst3["plugins"].size(), 3u);
    EXPECT_EQ(vst3["plugins"][0], json::parse(R"json({
        "id": "5653544753616D706C65476169700000", "status": "crashed", "attempts": 2,
        "error": "crashed during the request (no dump file found)", "phase": "initialize",
        "category": "Audio Module Class", "name": "Sample Gain", "vendor": "Zandrel Software", "version": "1.2.3",
        "sdkVersion": "VST 3.7.0", "subCategories": ["Fx", "Stereo"], "classFlags": 1, "cardinality": 2147483647,
        "sources": ["factory"] })json"));
    EXPECT_EQ(vst3["plugins"][1]["sources"], json::parse(R"(["factory"])"));
    EXPECT_EQ(vst3["plugins"][2], json::parse(R"({
        "id": "56535453616D706C6553796E74680000", "status": "ok", "category": "Audio Module Class",
        "name": "Sample Synth", "vendor": "Zandrel Software", "version": "2.0.0", "sdkVersion": "VST 3.7.0",
        "subCategories": ["Instrument", "Synth"], "classFlags": 1, "cardinality": 2147483647,
        "sources": ["factory", "instance"], "audioInputs": 0, "audioOutputs": 2, "audioInputBuses": 0,
        "audioOutputBuses": 1, "eventInputBuses": 1, "eventOutputBuses": 0 })"));

    // Read back from the file, both entries are up to date.
    ProcessRun again = RunTool(args);
    EXPECT_EQ(again.exitCode, 0u) << again.err;
    EXPECT_TRUE(Contains(again.err, "Nothing to scan: 2 modules unchanged since the last run")) << again.err;
    EXPECT_EQ(ScriptRequests(script).size(), 6u); // effect, module, gain twice, synth, free

    // Two servers at once give the same database, but for the timings (the
    // gain's answers past the second are its last: a crash again).
    std::wstring db2 = scratch / L"two.json";
    ProcessRun two = RunTool({L"--db", db2, L"--server", BinPath(L"fakeserver.exe"), L"-j", L"2", effect, multi});
    EXPECT_EQ(two.exitCode, 1u) << two.err;
    json second = ReadJson(db2);
    for (json* d : {&document, &second})
    {
        for (json& module : (*d)["modules"])
            module.erase("scanMs");
    }
    EXPECT_EQ(second, document);
}
