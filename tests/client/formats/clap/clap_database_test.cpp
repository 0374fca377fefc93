// The database's CLAP modules: one entry per plugin with its descriptor and
// ports, written as the file's definition says and read back unchanged; a
// file of format 2 carried over without a rescan.
#include "../../client_support.h"
#include "files.h"
#include "json_file.h"
#include <orvanta/database.h>
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>

using namespace orvanta;
using namespace testsupport;
using nlohmann::json;
// Keeps members in the order they are written, which is part of the layout.
using ordered = nlohmann::ordered_json;

namespace {

// A module of two plugins: an effect whose instance was read, with note
// ports of its own, and a synth that crashed twice while initialising.
ModuleRecord ClapModule()
{
    ModuleRecord record = clienttest::ScannedRecord(L"C:\\Plugins\\Zandrel.clap");
    ModuleResult& m = record.result;
    m.format = PluginFormat::clap;
    m.binary = m.path;
    m.clapVersion = "1.2.2";
    m.pluginCount = 3;
    m.findings = {"plugin 1: no id; skipped"};

    PluginEntry gain;
    gain.clap.emplace();
    ClapPlugin& g = *gain.clap;
    g.id = "com.zandrel.gain";
    g.name = "Zandrel Gain";
    g.vendor = "Zandrel Software";
    g.url = "https://example.com";
    g.version = "1.2.3";
    g.description = "A gain";
    g.features = {"audio-effect", "stereo"};
    g.clapVersion = "1.2.2";
    g.cut = {"description"};
    g.sources = {"descriptor", "instance"};
    ClapPorts ports;
    ports.audioInputPorts = ports.audioOutputPorts = 1;
    ports.audioInputs = ports.audioOutputs = 2;
    ports.noteInputPorts = 1;
    ports.noteOutputPorts = 2;
    ports.noteInputs = {ClapNotePort{0, "Notes", 3, 1}};
    ports.noteOutputs = {ClapNotePort{1, "MIDI Out", 2 | 8, 0}};
    g.ports = ports;

    PluginEntry synth;
    synth.clap.emplace();
    synth.clap->id = "com.zandrel.synth";
    synth.clap->name = "Zandrel Synth";
    synth.clap->clapVersion = "1.2.0";
    synth.clap->sources = {"descriptor"};
    synth.status = Status::crashed;
    synth.attempts = 2;
    synth.phase = "plugin init";
    synth.error = "crashed during the request (no dump file found)";
    m.plugins = {gain, synth};
    return record;
}

} // namespace

TEST(ClapDatabase, ModuleIsWrittenWithOneEntryPerPluginAsTheFileDefinesIt)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    ASSERT_TRUE(db.Record(ClapModule(), &error)) << error;

    const ordered expected = ordered::parse(R"json([
    {
      "path": "C:\\Plugins\\Zandrel.clap",
      "format": "clap",
      "size": 4096,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 42,
      "clapVersion": "1.2.2",
      "pluginCount": 3,
      "findings": ["plugin 1: no id; skipped"],
      "plugins": [
        {
          "id": "com.zandrel.gain",
          "status": "ok",
          "name": "Zandrel Gain",
          "vendor": "Zandrel Software",
          "url": "https://example.com",
          "manualUrl": "",
          "supportUrl": "",
          "version": "1.2.3",
          "description": "A gain",
          "features": ["audio-effect", "stereo"],
          "clapVersion": "1.2.2",
          "cut": ["description"],
          "sources": ["descriptor", "instance"],
          "audioInputPorts": 1,
          "audioOutputPorts": 1,
          "audioInputs": 2,
          "audioOutputs": 2,
          "noteInputs": [{"name": "Notes", "dialects": ["clap", "midi"], "preferred": "clap"}],
          "noteOutputs": [{"name": "MIDI Out", "dialects": ["midi", "midi2"], "preferred": ""}],
          "noteInputPorts": 1,
          "noteOutputPorts": 2
        },
        {
          "id": "com.zandrel.synth",
          "status": "crashed",
          "attempts": 2,
          "error": "crashed during the request (no dump file found)",
          "phase": "plugin init",
          "name": "Zandrel Synth",
          "vendor": "",
          "url": "",
          "manualUrl": "",
          "supportUrl": "",
          "version": "",
          "description": "",
          "features": [],
          "clapVersion": "1.2.0",
          "sources": ["descriptor"]
        }
      ]
    }
])json");
    ordered written = ordered::parse(ReadWholeFile(folder / L"plugins.json"));
    EXPECT_EQ(written["format"], 5);
    EXPECT_EQ(written["modules"].dump(2), expected.dump(2));

    // Read back and written again, nothing is lost or changed.
    PluginDatabase again, copy;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    ASSERT_TRUE(copy.Open(folder / L"copy.json", &error)) << error;
    auto read = again.Find(L"C:\\Plugins\\Zandrel.clap");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->result.binary, L"C:\\Plugins\\Zandrel.clap");
    ASSERT_TRUE(copy.Record(*read, &error)) << error;
    EXPECT_EQ(ordered::parse(ReadWholeFile(folder / L"copy.json"))["modules"].dump(2), expected.dump(2));
}

TEST(ClapDatabase, Format2FileIsCarriedOverWithoutARescanAndWrittenAsFormat4)
{
    ScratchFolder folder;
    const std::string format2 = R"json({
  "format": 2,
  "server": "Orvanta Plugin Scan Server (x64)",
  "modules": [
    {
      "path": "C:\\Plugins\\Gain.dll",
      "format": "vst2",
      "size": 123904,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 37
    }
  ]
}
)json";
    WriteWholeFile(folder / L"plugins.json", format2);
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    FoundModules found;
    ModuleFile file;
    file.path = L"C:\\Plugins\\Gain.dll";
    file.size = 123904;
    file.modified = "2026-12-08T13:41:15.250Z";
    found.files = {file};
    found.roots = {L"C:\\Plugins"};
    ScanPlan plan = db.Plan(found, PlanOptions());
    EXPECT_TRUE(plan.toScan.empty());
    EXPECT_EQ(plan.unchanged.size(), 1u);
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), format2);

    ASSERT_TRUE(db.Record(ClapModule(), &error)) << error;
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["format"], 5);
    ASSERT_EQ(document["modules"].size(), 2u);
    EXPECT_EQ(document["modules"][0], json::parse(format2)["modules"][0]);
    EXPECT_EQ(document["modules"][1]["format"], "clap");
}
