// orvanta-scan --formats clap over a folder of every format, answered by
// the stand-in server from a script of the server's CLAP exchange: only the
// CLAP module is scanned, shown and counted as CLAP, its plugin's crash and
// the skipped descriptor named in the summary, its members in the database
// and in --json.
#include "build_paths.h"
#include "cli_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "server_script.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace testsupport;
using namespace testsupport::clapanswers;
using clitest::Contains;
using clitest::RunTool;
using nlohmann::json;

TEST(CliClap, FormatsClapScansOnlyTheClapModuleAndKeepsItsMembers)
{
    ScratchFolder scratch;
    std::wstring plugins = scratch / L"plugins";
    MakeFolder(plugins);
    WriteWholeFile(plugins + L"\\Effect.dll", "no request may reach the server for it");
    WriteWholeFile(plugins + L"\\Multi.vst3", "nor for this one");
    std::wstring module = plugins + L"\\Zandrel.clap";
    WriteWholeFile(module, "answered by the script");
    std::wstring db = scratch / L"plugins.json";
    std::wstring script = scratch / L"server.script";
    std::string crash = GainCrashIn("plugin init");
    PlayServerScript(script, Module + crash + crash + Synth, Utf8(module));

    ProcessRun run = RunTool({L"--db", db, L"--server", BinPath(L"fakeserver.exe"), L"-j", L"1", L"--json",
                              L"--formats", L"clap", plugins});
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    std::string path = Utf8(module);
    EXPECT_TRUE(Contains(run.err, "[1/1] ok      " + path + " (clap, ")) << run.err;
    EXPECT_TRUE(Contains(run.err, ", 2 plugins)\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Plugins: 1 ok, 1 crashed.\n"
                                  "  clap: 1 module (1 ok), 2 plugins (1 ok, 1 crashed).\n"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "  " + path + ">" + GainId +
                                      " (Zandrel Gain): crashed in plugin init: crashed during the request (no "
                                      "dump file found)\n"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "Findings:\n  " + path + ": plugin 1: no id; skipped\n")) << run.err;
    EXPECT_EQ(ScriptRequests(script),
              (std::vector<std::string>{"clap|" + path, "clap|" + path + ">" + GainId, "clap|" + path + ">" + GainId,
                                        "clap|" + path + ">" + SynthId, "clap|"}));

    json document = ReadJson(db);
    EXPECT_EQ(json::parse(run.out, nullptr, false), document) << run.out;
    ASSERT_EQ(document["modules"].size(), 1u);
    json& entry = document["modules"][0];
    EXPECT_EQ(entry["format"], "clap");
    EXPECT_EQ(entry["clapVersion"], "1.2.2");
    EXPECT_EQ(entry["pluginCount"], 3);
    ASSERT_EQ(entry["plugins"].size(), 2u);
    EXPECT_EQ(entry["plugins"][0]["status"], "crashed");
    EXPECT_EQ(entry["plugins"][0]["phase"], "plugin init");
    entry["plugins"][1].erase("replaces"); // declared links are checked where they are mapped
    EXPECT_EQ(entry["plugins"][1], json::parse(R"({
        "id": "com.zandrel.synth", "status": "ok", "name": "Zandrel Synth", "vendor": "Zandrel Software",
        "url": "", "manualUrl": "", "supportUrl": "", "version": "2.0.0", "description": "A synth",
        "features": ["instrument", "synthesizer", "stereo"], "clapVersion": "1.2.0",
        "sources": ["descriptor", "instance"], "audioInputPorts": 0, "audioOutputPorts": 1, "audioInputs": 0,
        "audioOutputs": 2, "noteInputs": [{"name": "Notes", "dialects": ["clap", "midi"], "preferred": "clap"}],
        "noteOutputs": [], "noteInputPorts": 1, "noteOutputPorts": 0 })"));
}
