// A module entry's presets in the database file: written under the module,
// read back by a standard parser and by the database, and refused when the
// member has another shape.
#include "../client_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include <orvanta/database.h>
#include <gtest/gtest.h>

using namespace orvanta;
using namespace testsupport;
using nlohmann::json;

namespace {

ModuleRecord ClapWithPresets()
{
    ModuleRecord record = clienttest::ScannedRecord(L"C:\\Plugins\\Gain.clap");
    record.result.format = PluginFormat::clap;
    ModulePresets presets;
    presets.factory = "clap.preset-discovery-factory/2";
    presets.moduleModified = "2026-12-08T13:41:15.250Z";
    PresetProvider provider;
    provider.id = "com.zandrel.presets";
    provider.name = "Zandrel presets";
    provider.vendor = "Zandrel";
    provider.presetCount = 2;
    provider.fileTypes = {"zpreset"};
    PresetProvider hung = provider;
    hung.id = "com.zandrel.slow";
    hung.status = Status::timeout;
    hung.error = "no answer within 3000 ms";
    hung.phase = "init";
    hung.presetCount = 0;
    hung.fileTypes = {};
    presets.providers = {provider, hung};
    PresetLocation folder;
    folder.provider = provider.id;
    folder.name = "Factory";
    folder.flags = PresetIsFactory;
    folder.path = L"C:\\Presets";
    folder.stamp = "2 2026-12-08T13:41:15.250Z";
    PresetLocation inside;
    inside.provider = provider.id;
    inside.name = "Built in";
    inside.inPlugin = true;
    presets.locations = {folder, inside};
    Preset bank;
    bank.name = "Warm";
    bank.file = L"C:\\Presets\\Bank.zpreset";
    bank.loadKey = "1";
    bank.plugins = {{"clap", "com.zandrel.gain"}};
    bank.provider = provider.id;
    bank.soundpack = "pack1";
    bank.flags = PresetIsFactory | PresetIsFavorite;
    bank.creators = {"Ann", "Bo"};
    bank.description = "A warm gain";
    bank.created = 1765200000;
    bank.modified = 1765200075;
    bank.features = {"audio-effect"};
    bank.extra = {{"mood", "warm"}, {"mood", "soft"}};
    Preset builtIn;
    builtIn.name = "Init";
    builtIn.loadKey = "init";
    builtIn.plugins = {{"clap", "com.zandrel.gain"}};
    builtIn.provider = provider.id;
    presets.presets = {bank, builtIn};
    presets.findings = {"provider com.zandrel.presets: C:\\Presets\\Bad.zpreset: unreadable (error 5)"};
    record.result.presets = presets;
    return record;
}

} // namespace

TEST(DatabasePresets, PresetsAreWrittenUnderTheirModuleAndReadBack)
{
    ScratchFolder folder;
    std::string error;
    {
        PluginDatabase db;
        ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
        ASSERT_TRUE(db.Record(ClapWithPresets(), &error)) << error;
    }
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["format"], 5);
    EXPECT_EQ(document["modules"][0]["presets"], json::parse(R"json({
      "moduleModified": "2026-12-08T13:41:15.250Z",
      "factory": "clap.preset-discovery-factory/2",
      "providers": [
        {"id": "com.zandrel.presets", "name": "Zandrel presets", "vendor": "Zandrel", "status": "ok",
         "presetCount": 2, "fileTypes": ["zpreset"]},
        {"id": "com.zandrel.slow", "name": "Zandrel presets", "vendor": "Zandrel", "status": "timeout",
         "error": "no answer within 3000 ms", "phase": "init", "presetCount": 0, "fileTypes": []}],
      "locations": [
        {"provider": "com.zandrel.presets", "name": "Factory", "flags": 1, "kind": "file", "path": "C:\\Presets",
         "stamp": "2 2026-12-08T13:41:15.250Z"},
        {"provider": "com.zandrel.presets", "name": "Built in", "kind": "plugin", "stamp": ""}],
      "items": [
        {"name": "Warm", "file": "C:\\Presets\\Bank.zpreset", "loadKey": "1",
         "plugins": [{"abi": "clap", "id": "com.zandrel.gain"}], "provider": "com.zandrel.presets",
         "soundpack": "pack1", "flags": 9, "creators": ["Ann", "Bo"], "description": "A warm gain",
         "created": 1765200000, "modified": 1765200075, "features": ["audio-effect"],
         "extra": [["mood", "warm"], ["mood", "soft"]]},
        {"name": "Init", "loadKey": "init", "plugins": [{"abi": "clap", "id": "com.zandrel.gain"}],
         "provider": "com.zandrel.presets"}],
      "findings": ["provider com.zandrel.presets: C:\\Presets\\Bad.zpreset: unreadable (error 5)"]})json"));

    // Read back, then written again, the file is the same.
    std::string first = ReadWholeFile(folder / L"plugins.json");
    PluginDatabase again;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    auto read = again.Find(L"C:\\Plugins\\Gain.clap");
    ASSERT_TRUE(read && read->result.presets);
    EXPECT_EQ(read->result.presets->presets[0].extra[1].second, "soft");
    EXPECT_TRUE(read->result.presets->locations[1].inPlugin);
    ASSERT_TRUE(again.Record(*read, &error)) << error;
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), first);
}

TEST(DatabasePresets, PresetOfAnotherShapeRefusesTheFileNamingTheMember)
{
    ScratchFolder folder;
    std::wstring path = folder.Write(L"db.json", R"({"format": 5, "modules": [{"path": "C:\\P\\G.clap",
        "format": "clap", "size": 1, "modified": "2026-12-08T13:41:15.250Z", "status": "ok", "attempts": 1,
        "scanMs": 1, "presets": {"locations": [], "items": [{"name": "A", "plugins": [{"abi": "clap"}]}]}}]})");
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(path, &error));
    EXPECT_NE(error.find("module 'C:\\P\\G.clap'.presets.items[0].plugins[0].id is missing"), std::string::npos)
        << error;
}
