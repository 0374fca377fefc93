// The database's VST3 modules with their factory and one entry
// per class, read back by a standard JSON parser and by the database
// itself; a file of format 1 carried over without a rescan; files of other
// formats refused and left as they are.
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

namespace {

const std::string GainId = "5653544753616D706C65476169700000";

Vst3Class Class(const std::string& id, const std::string& category, const std::string& name)
{
    Vst3Class c;
    c.classId = id;
    c.category = category;
    c.name = name;
    c.vendor = "Zandrel Software";
    c.version = "1.2.3";
    c.sdkVersion = "VST 3.7.0";
    c.cardinality = 2147483647;
    c.sources = {"factory"};
    return c;
}

// A bundle of three classes: an effect whose instance was read, its
// controller, and a synth that crashed twice while initialising.
ModuleRecord Bundle()
{
    ModuleRecord record = clienttest::ScannedRecord(L"C:\\Plugins\\Multi.vst3");
    ModuleResult& m = record.result;
    m.format = PluginFormat::vst3;
    m.binary = L"C:\\Plugins\\Multi.vst3\\Contents\\x86_64-win\\Multi.vst3";
    m.factory = Vst3Factory{"Zandrel Software", "https://example.com", "info@example.com", 16};
    m.classCount = 3;
    m.findings = {"class " + GainId + ": name 'Gain' in moduleinfo.json, 'Sample Gain' from the factory"};

    PluginEntry gain;
    gain.vst3 = Class(GainId, "Audio Module Class", "Sample Gain");
    gain.vst3->subCategories = {"Fx", "Stereo"};
    gain.vst3->classFlags = 1;
    gain.vst3->sources = {"factory", "instance"};
    gain.vst3->buses = Vst3Buses{1, 1, 0, 1, 2, 2};
    PluginEntry controller;
    controller.vst3 = Class("5653454353616D706C65476169700000", "Component Controller Class",
                            "Sample Gain Controller");
    PluginEntry synth;
    synth.vst3 = Class("56535453616D706C6553796E74680000", "Audio Module Class", "Sample Synth");
    synth.vst3->subCategories = {"Instrument"};
    synth.status = Status::crashed;
    synth.attempts = 2;
    synth.phase = "initialize";
    synth.error = "crashed during the request: exception 0xC0000005 in "
                  "C:\\Plugins\\Multi.vst3\\Contents\\x86_64-win\\Multi.vst3";
    m.plugins = {gain, controller, synth};
    return record;
}

ModuleFile File(const std::wstring& path, uint64_t size, const std::string& modified)
{
    ModuleFile file;
    file.path = path;
    file.size = size;
    file.modified = modified;
    return file;
}

} // namespace

TEST(DatabaseFormat2, Vst3BundleIsWrittenWithItsFactoryAndOneEntryPerClass)
{
    ScratchFolder folder;
    ModuleRecord failed = clienttest::ScannedRecord(L"C:\\Plugins\\Null.vst3", Status::failed);
    failed.result.format = PluginFormat::vst3;
    failed.result.binary = L"C:\\Plugins\\Null.vst3\\Contents\\x86_64-win\\Null.vst3";
    failed.result.error = "GetPluginFactory returned null";
    failed.result.phase = "GetPluginFactory";
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    db.SetServer("Orvanta Plugin Scan Server (x64)");
    ASSERT_TRUE(db.Record(Bundle(), &error)) << error;
    ASSERT_TRUE(db.Record(failed, &error)) << error;

    const std::string expected = R"json({
  "format": 5,
  "server": "Orvanta Plugin Scan Server (x64)",
  "modules": [
    {
      "path": "C:\\Plugins\\Multi.vst3",
      "format": "vst3",
      "binary": "C:\\Plugins\\Multi.vst3\\Contents\\x86_64-win\\Multi.vst3",
      "size": 4096,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 42,
      "factory": {
        "vendor": "Zandrel Software",
        "url": "https://example.com",
        "email": "info@example.com",
        "flags": 16
      },
      "classCount": 3,
      "findings": [
        "class 5653544753616D706C65476169700000: name 'Gain' in moduleinfo.json, 'Sample Gain' from the factory"
      ],
      "plugins": [
        {
          "id": "5653544753616D706C65476169700000",
          "status": "ok",
          "category": "Audio Module Class",
          "name": "Sample Gain",
          "vendor": "Zandrel Software",
          "version": "1.2.3",
          "sdkVersion": "VST 3.7.0",
          "subCategories": [
            "Fx",
            "Stereo"
          ],
          "classFlags": 1,
          "cardinality": 2147483647,
          "sources": [
            "factory",
            "instance"
          ],
          "audioInputs": 2,
          "audioOutputs": 2,
          "audioInputBuses": 1,
          "audioOutputBuses": 1,
          "eventInputBuses": 0,
          "eventOutputBuses": 1
        },
        {
          "id": "5653454353616D706C65476169700000",
          "status": "ok",
          "category": "Component Controller Class",
          "name": "Sample Gain Controller",
          "vendor": "Zandrel Software",
          "version": "1.2.3",
          "sdkVersion": "VST 3.7.0",
          "subCategories": [],
          "classFlags": 0,
          "cardinality": 2147483647,
          "sources": [
            "factory"
          ]
        },
        {
          "id": "56535453616D706C6553796E74680000",
          "status": "crashed",
          "attempts": 2,
          "error": "crashed during the request: exception 0xC0000005 in C:\\Plugins\\Multi.vst3\\Contents\\x86_64-win\\Multi.vst3",
          "phase": "initialize",
          "category": "Audio Module Class",
          "name": "Sample Synth",
          "vendor": "Zandrel Software",
          "version": "1.2.3",
          "sdkVersion": "VST 3.7.0",
          "subCategories": [
            "Instrument"
          ],
          "classFlags": 0,
          "cardinality": 2147483647,
          "sources": [
            "factory"
          ]
        }
      ]
    },
    {
      "path": "C:\\Plugins\\Null.vst3",
      "format": "vst3",
      "binary": "C:\\Plugins\\Null.vst3\\Contents\\x86_64-win\\Null.vst3",
      "size": 4096,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "failed",
      "attempts": 1,
      "scanMs": 42,
      "error": "GetPluginFactory returned null",
      "phase": "GetPluginFactory",
      "classCount": 0
    }
  ],
  "products": [
    {
      "name": "Sample Gain",
      "vendor": "Zandrel Software",
      "formats": [
        "vst3"
      ],
      "plugins": [
        {
          "format": "vst3",
          "path": "C:\\Plugins\\Multi.vst3",
          "id": "5653544753616D706C65476169700000",
          "link": ""
        }
      ]
    }
  ]
}
)json";
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), expected);
}

// What a database reads back, written into another, gives the same bytes:
// no member is lost or changed on the way through the file.
TEST(DatabaseFormat2, EveryVst3MemberSurvivesReopening)
{
    ScratchFolder folder;
    ModuleRecord record = Bundle();
    record.result.moduleInfoOnly = true;
    record.result.phase = "class info";
    PluginEntry unread;
    unread.status = Status::failed;
    unread.error = "the factory gave no class info for index 3";
    unread.vst3.emplace();
    record.result.plugins.push_back(unread);
    record.result.machine = "x64";
    record.result.architectures = {"x86_64-win", "x86-win"};
    Vst3Class& gain = *record.result.plugins[0].vst3;
    gain.controller = "5653454353616D706C65476169700000";
    gain.controllerListed = true;
    record.result.plugins[0].ara = AraSupport{false, "41524141524141524141524141524141", "", false};
    record.result.plugins[1].vst3->vendorFromFactory = true;
    std::string error;
    {
        PluginDatabase db;
        ASSERT_TRUE(db.Open(folder / L"first.json", &error)) << error;
        ASSERT_TRUE(db.Record(record, &error)) << error;
    }
    PluginDatabase again, copy;
    ASSERT_TRUE(again.Open(folder / L"first.json", &error)) << error;
    ASSERT_TRUE(copy.Open(folder / L"second.json", &error)) << error;
    auto read = again.Find(L"C:\\Plugins\\Multi.vst3");
    ASSERT_TRUE(read);
    ASSERT_TRUE(copy.Record(*read, &error)) << error;
    json module = ReadJson(folder / L"first.json")["modules"][0];
    EXPECT_EQ(module["moduleInfoOnly"], true);
    EXPECT_EQ(module["machine"], "x64");
    EXPECT_EQ(module["architectures"], json::parse(R"(["x86_64-win", "x86-win"])"));
    EXPECT_EQ(module["plugins"][0]["controller"], "5653454353616D706C65476169700000");
    EXPECT_EQ(module["plugins"][0]["controllerListed"], true);
    EXPECT_EQ(module["plugins"][0]["ara"],
              json::parse(R"({"required": false, "factoryClass": "41524141524141524141524141524141"})"));
    EXPECT_EQ(module["plugins"][1]["vendorFrom"], "factory");
    EXPECT_FALSE(module["plugins"][0].contains("vendorFrom"));
    EXPECT_EQ(ReadWholeFile(folder / L"second.json"), ReadWholeFile(folder / L"first.json"));
}

TEST(DatabaseFormat2, Format1FileIsCarriedOverWithoutARescanAndWrittenAsFormat4)
{
    ScratchFolder folder;
    const std::string format1 = R"json({
  "format": 1,
  "server": "Orvanta Plugin Scan Server (x64)",
  "modules": [
    {
      "path": "C:\\Plugins\\Shell.dll",
      "size": 123904,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 37,
      "loadProblem": "kept as it was",
      "plugins": [
        {
          "id": "536D5368",
          "shellId": null,
          "status": "ok",
          "name": "Sample Shell",
          "vendor": "Zandrel Software",
          "product": "Orvanta Samples",
          "version": "1.0.0.0",
          "numInputs": 0,
          "numOutputs": 0,
          "wantsMidi": false,
          "sendsMidi": false,
          "platform": "x64",
          "audio64": false,
          "category": 10,
          "synthEdit": false
        },
        {
          "id": "53480002",
          "shellId": "53480002",
          "status": "crashed",
          "attempts": 2,
          "error": "crashed during the request",
          "name": "Sample Shell Delay"
        }
      ]
    }
  ]
}
)json";
    WriteWholeFile(folder / L"plugins.json", format1);
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    EXPECT_EQ(db.Server(), "Orvanta Plugin Scan Server (x64)");
    auto shell = db.Find(L"C:\\Plugins\\Shell.dll");
    ASSERT_TRUE(shell);
    EXPECT_EQ(shell->result.format, PluginFormat::vst2);
    ASSERT_EQ(shell->result.plugins.size(), 2u);
    EXPECT_EQ(shell->result.plugins[1].shellId, 0x53480002u);

    FoundModules found;
    found.files = {File(L"C:\\Plugins\\Shell.dll", 123904, "2026-12-08T13:41:15.250Z")};
    found.roots = {L"C:\\Plugins"};
    ScanPlan plan = db.Plan(found, PlanOptions());
    EXPECT_TRUE(plan.toScan.empty());
    ASSERT_EQ(plan.unchanged.size(), 1u);
    EXPECT_TRUE(plan.removed.empty());
    // Reading changes nothing on disk.
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), format1);

    ASSERT_TRUE(db.Record(clienttest::ScannedRecord(L"C:\\Plugins\\New.dll"), &error)) << error;
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["format"], 5);
    ASSERT_EQ(document["modules"].size(), 2u);
    json carried = json::parse(format1)["modules"][0];
    carried["format"] = "vst2";
    EXPECT_EQ(document["modules"][1], carried);
    // The member comes right after the path.
    std::string text = ReadWholeFile(folder / L"plugins.json");
    EXPECT_NE(text.find("\"path\": \"C:\\\\Plugins\\\\Shell.dll\",\n      \"format\": \"vst2\",\n"), std::string::npos)
        << text;
}

struct Refused
{
    const char* name;
    const char* bytes;
    const char* reason;
};

// Each case shows as its name, not as its bytes.
void PrintTo(const Refused& r, std::ostream* out)
{
    *out << r.name;
}

class DatabaseFormatRefusal : public ::testing::TestWithParam<Refused>
{
};

TEST_P(DatabaseFormatRefusal, IsRefusedWithTheReasonAndLeftByteForByte)
{
    ScratchFolder folder;
    const Refused& r = GetParam();
    WriteWholeFile(folder / L"plugins.json", r.bytes);
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
    EXPECT_EQ(error, "the database " + Utf8(folder / L"plugins.json") +
                         " is not readable, so it is left as it is: " + r.reason);
    EXPECT_FALSE(db.Record(clienttest::ScannedRecord(L"C:\\Plugins\\A.dll"), &error));
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"), r.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DatabaseFormatRefusal,
    ::testing::Values(
        Refused{"Format6", R"({"format": 6, "modules": []})", "its format 6 is not format 5, 4, 3, 2 or 1"},
        Refused{"Format0", R"({"format": 0, "modules": []})", "its format 0 is not format 5, 4, 3, 2 or 1"},
        Refused{"FormatAsText", R"({"format": "2", "modules": []})", "it has no format number"},
        Refused{"NoFormat", R"({"modules": []})", "it has no format number"},
        Refused{"EntryWithoutFormat",
                R"({"format": 2, "modules": [{"path": "C:\\A.dll", "size": 1, "modified": "x", "status": "ok"}]})",
                "module 'C:\\A.dll'.format is missing"},
        Refused{"EntryOfAnUnknownFormat",
                R"({"format": 2, "modules": [{"path": "C:\\A.clap", "format": "clap", "size": 1, "modified": "x", "status": "ok"}]})",
                "module 'C:\\A.clap'.format is not vst2 or vst3"},
        Refused{"ClassIdOfEightDigits",
                R"({"format": 2, "modules": [{"path": "C:\\A.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok",
                    "plugins": [{"id": "536D5368", "status": "ok"}]}]})",
                "module 'C:\\A.vst3'.plugins[0].id is not 32 hexadecimal digits"},
        Refused{"SubCategoriesAsText",
                R"({"format": 2, "modules": [{"path": "C:\\A.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok",
                    "plugins": [{"id": "5653544753616D706C65476169700000", "status": "ok", "subCategories": "Fx|Delay"}]}]})",
                "module 'C:\\A.vst3'.plugins[0].subCategories is not a list"},
        Refused{"FactoryAsText",
                R"({"format": 2, "modules": [{"path": "C:\\A.vst3", "format": "vst3", "size": 1, "modified": "x", "status": "ok",
                    "factory": "Zandrel"}]})",
                "module 'C:\\A.vst3'.factory is not an object"}),
    [](const ::testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

TEST(DatabaseFormat2, BlamedBundleWithoutAnEntryIsAVst3EntryNamingItsBinary)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    Blame blame;
    blame.path = L"C:\\Plugins\\Gone.vst3";
    blame.crash.exceptionCode = 0xC0000005;
    blame.crash.faultingModule = "C:\\Plugins\\Gone.vst3\\Contents\\x86_64-win\\Gone.vst3";
    ASSERT_TRUE(db.MarkCrashed(blame, &error)) << error;

    json module = ReadJson(folder / L"plugins.json")["modules"][0];
    EXPECT_EQ(module["path"], "C:\\Plugins\\Gone.vst3");
    EXPECT_EQ(module["format"], "vst3");
    EXPECT_EQ(module["binary"], "C:\\Plugins\\Gone.vst3\\Contents\\x86_64-win\\Gone.vst3");
    EXPECT_EQ(module["status"], "crashed");
    EXPECT_EQ(module["faultingModule"], "C:\\Plugins\\Gone.vst3\\Contents\\x86_64-win\\Gone.vst3");
}

// A format 3 file knew neither rule: its classes without a vendor get the
// factory's, its ARA class pairs with its audio module class, and the
// module is not scanned again.
TEST(DatabaseFormat4, Format3FileGetsTheFactorysVendorAndAraWithoutARescan)
{
    ScratchFolder folder;
    const std::string format3 = R"json({
  "format": 3,
  "server": "Orvanta Plugin Scan Server (x64)",
  "modules": [
    {
      "path": "C:\\Plugins\\Ara.vst3",
      "format": "vst3",
      "binary": "C:\\Plugins\\Ara.vst3\\Contents\\x86_64-win\\Ara.vst3",
      "size": 4096,
      "modified": "2026-12-08T13:41:15.250Z",
      "status": "ok",
      "attempts": 1,
      "scanMs": 20,
      "factory": {"vendor": "Zandrel Software", "url": "", "email": "", "flags": 16},
      "classCount": 2,
      "plugins": [
        {"id": "5653544753616D706C65476169700000", "status": "ok", "category": "Audio Module Class",
         "name": "Ara Gain", "vendor": "", "version": "1.0", "sdkVersion": "VST 3.7.0", "subCategories": ["Fx"],
         "classFlags": 0, "cardinality": 2147483647, "sources": ["factory"]},
        {"id": "41524141524141524141524141524141", "status": "ok", "category": "ARA Main Factory Class",
         "name": "Ara Gain", "vendor": "Other Vendor", "version": "1.0", "sdkVersion": "VST 3.7.0",
         "subCategories": [], "classFlags": 0, "cardinality": 2147483647, "sources": ["factory"]}
      ]
    }
  ],
  "products": []
}
)json";
    WriteWholeFile(folder / L"plugins.json", format3);
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    FoundModules found;
    found.files = {File(L"C:\\Plugins\\Ara.vst3", 4096, "2026-12-08T13:41:15.250Z")};
    found.roots = {L"C:\\Plugins"};
    EXPECT_TRUE(db.Plan(found, PlanOptions()).toScan.empty());

    ASSERT_TRUE(db.Record(clienttest::ScannedRecord(L"C:\\Plugins\\New.dll"), &error)) << error;
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["format"], 5);
    json gain = document["modules"][0]["plugins"][0];
    EXPECT_EQ(gain["vendor"], "Zandrel Software");
    EXPECT_EQ(gain["vendorFrom"], "factory");
    EXPECT_EQ(gain["ara"], json::parse(R"({"required": false, "factoryClass": "41524141524141524141524141524141"})"));
    json ara = document["modules"][0]["plugins"][1];
    EXPECT_EQ(ara["vendor"], "Other Vendor");
    EXPECT_FALSE(ara.contains("vendorFrom"));
    EXPECT_FALSE(ara.contains("ara"));
    // Now named, the class is a product of its vendor.
    json products = json::array();
    for (const json& product : document["products"])
        products.push_back(product["vendor"].get<std::string>() + ": " + product["name"].get<std::string>());
    EXPECT_NE(std::find(products.begin(), products.end(), "Zandrel Software: Ara Gain"), products.end()) << products;
}
