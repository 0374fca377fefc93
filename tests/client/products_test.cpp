// Plugins grouped into products over database entries built by hand: what
// a plugin declares joins across formats, vendor and name are a guess only
// where nothing is declared, and entries that name no plugin stay out. The
// database file's "products" and "replaces", read back by a JSON parser.
#include "client_support.h"
#include "files.h"
#include "json_file.h"
#include "scratch_folder.h"
#include "text.h"
#include <orvanta/database.h>
#include <orvanta/products.h>
#include <orvanta/text.h>
#include <gtest/gtest.h>

using namespace orvanta;
using namespace testsupport;
using nlohmann::json;

namespace {

const std::string Zandrel = "Zandrel Software";

ModuleRecord Module(PluginFormat format, const std::wstring& path, std::vector<PluginEntry> plugins)
{
    ModuleRecord record;
    record.result.path = path;
    record.result.format = format;
    record.result.plugins = std::move(plugins);
    return record;
}

PluginEntry Vst2(uint32_t id, const std::string& name, const std::string& vendor, Status status = Status::ok)
{
    PluginEntry entry;
    entry.status = status;
    entry.report.id = id;
    entry.report.name = name;
    entry.report.vendor = vendor;
    entry.report.category = 1;
    return entry;
}

PluginEntry Vst3(const std::string& id, const std::string& name, const std::string& vendor,
                 const std::string& category = Vst3AudioModuleClass)
{
    PluginEntry entry;
    entry.vst3.emplace();
    entry.vst3->classId = id;
    entry.vst3->name = name;
    entry.vst3->vendor = vendor;
    entry.vst3->category = category;
    return entry;
}

PluginEntry Clap(const std::string& id, const std::string& name, const std::string& vendor)
{
    PluginEntry entry;
    entry.clap.emplace();
    entry.clap->id = id;
    entry.clap->name = name;
    entry.clap->vendor = vendor;
    return entry;
}

PluginEntry Replacing(PluginEntry entry, std::vector<FormatLink> links)
{
    entry.replaces = std::move(links);
    return entry;
}

// Each product as its line, then one line per member.
std::vector<std::string> Described(const std::vector<Product>& products)
{
    std::vector<std::string> lines;
    for (const Product& product : products)
    {
        lines.push_back(ProductLine(product));
        for (const ProductMember& m : product.members)
        {
            lines.push_back("  " + std::string(FormatName(m.format)) + " " + ToUtf8(m.path) + " " + m.id + " '" + m.name +
                            "' '" + m.vendor + "' " + (m.link.empty() ? "-" : m.link));
        }
    }
    return lines;
}

struct Grouping
{
    const char* name;
    std::vector<ModuleRecord> modules;
    std::vector<std::string> expected;
};

void PrintTo(const Grouping& g, std::ostream* out)
{
    *out << g.name;
}

class ProductGrouping : public ::testing::TestWithParam<Grouping>
{
};

TEST_P(ProductGrouping, GivesTheseProducts)
{
    EXPECT_EQ(Described(LinkProducts(GetParam().modules)), GetParam().expected);
}

const std::string GainClass = "ABCDEF0123456789ABCDEF0123456789";

INSTANTIATE_TEST_SUITE_P(
    Records, ProductGrouping,
    ::testing::Values(
        // The class ID made from the VST 2 plugin, and its ID, as
        // moduleinfo.json's list gives them; hex IDs in another letter case.
        Grouping{"Vst3DeclaresVst2ThroughAConvertedId",
                 {Module(PluginFormat::vst2, L"C:\\P\\Gain.dll", {Vst2(0x5A47616E, "ZGain", Zandrel)}),
                  Module(PluginFormat::vst3, L"C:\\P\\Gain.vst3",
                         {Replacing(Vst3(GainClass, "Zandrel Gain", Zandrel),
                                    {{PluginFormat::vst3, "5653545a47616e7a67616e0000000000", "moduleinfo.json"},
                                     {PluginFormat::vst2, "5a47616e", "moduleinfo.json"}})})},
                 {"Zandrel Gain (Zandrel Software): vst3, vst2 [declared]",
                  "  vst3 C:\\P\\Gain.vst3 ABCDEF0123456789ABCDEF0123456789 'Zandrel Gain' 'Zandrel Software' declared",
                  "  vst2 C:\\P\\Gain.dll 5A47616E 'ZGain' 'Zandrel Software' declared"}},
        Grouping{"ClapDeclaresVst3",
                 {Module(PluginFormat::vst3, L"C:\\P\\Gain.vst3", {Vst3(GainClass, "Gain", "Zandrel")}),
                  Module(PluginFormat::clap, L"C:\\P\\Gain.clap",
                         {Replacing(Clap("com.zandrel.gain", "Zandrel Gain", Zandrel),
                                    {{PluginFormat::vst3, "abcdef0123456789abcdef0123456789",
                                      "clap.plugin-factory-info-as-vst3.draft0"}})})},
                 {"Zandrel Gain (Zandrel Software): clap, vst3 [declared]",
                  "  clap C:\\P\\Gain.clap com.zandrel.gain 'Zandrel Gain' 'Zandrel Software' declared",
                  "  vst3 C:\\P\\Gain.vst3 ABCDEF0123456789ABCDEF0123456789 'Gain' 'Zandrel' declared"}},
        // A link to a plugin the database does not hold joins nothing.
        Grouping{"LinkToAnAbsentPluginLeavesItAlone",
                 {Module(PluginFormat::clap, L"C:\\P\\Gain.clap",
                         {Replacing(Clap("com.zandrel.gain", "Gain", Zandrel),
                                    {{PluginFormat::vst2, "5A47616E", "clap.plugin-state-converter-factory/1"}})})},
                 {"Gain (Zandrel Software): clap",
                  "  clap C:\\P\\Gain.clap com.zandrel.gain 'Gain' 'Zandrel Software' -"}},
        Grouping{"SameVendorAndNameAcrossFormatsWhateverTheCaseAndBlanks",
                 {Module(PluginFormat::vst2, L"C:\\P\\Echo.dll", {Vst2(0x45636821, "Zandrel Echo", Zandrel)}),
                  Module(PluginFormat::vst3, L"C:\\P\\Echo.vst3",
                         {Vst3(GainClass, " zandrel ECHO\t", "ZANDREL software ")}),
                  Module(PluginFormat::clap, L"C:\\P\\Echo.clap", {Clap("com.zandrel.echo", "Zandrel Echo ", Zandrel)})},
                 {"Zandrel Echo  (Zandrel Software): clap, vst3, vst2 [guessed]",
                  "  clap C:\\P\\Echo.clap com.zandrel.echo 'Zandrel Echo ' 'Zandrel Software' guessed",
                  "  vst3 C:\\P\\Echo.vst3 ABCDEF0123456789ABCDEF0123456789 ' zandrel ECHO\t' 'ZANDREL software ' guessed",
                  "  vst2 C:\\P\\Echo.dll 45636821 'Zandrel Echo' 'Zandrel Software' guessed"}},
        Grouping{"DeclaredPairWithAGuessedThirdFormat",
                 {Module(PluginFormat::vst2, L"C:\\P\\Gain.dll", {Vst2(0x5A47616E, "Zandrel Gain", Zandrel)}),
                  Module(PluginFormat::vst3, L"C:\\P\\Gain.vst3", {Vst3(GainClass, "Zandrel Gain", Zandrel)}),
                  Module(PluginFormat::clap, L"C:\\P\\Gain.clap",
                         {Replacing(Clap("com.zandrel.gain", "Zandrel Gain", Zandrel),
                                    {{PluginFormat::vst3, GainClass, "clap.plugin-factory-info-as-vst3.draft0"}})})},
                 {"Zandrel Gain (Zandrel Software): clap, vst3, vst2 [declared, guessed]",
                  "  clap C:\\P\\Gain.clap com.zandrel.gain 'Zandrel Gain' 'Zandrel Software' declared",
                  "  vst3 C:\\P\\Gain.vst3 ABCDEF0123456789ABCDEF0123456789 'Zandrel Gain' 'Zandrel Software' declared",
                  "  vst2 C:\\P\\Gain.dll 5A47616E 'Zandrel Gain' 'Zandrel Software' guessed"}},
        Grouping{"NoGuessOnAnEmptyVendorOrName",
                 {Module(PluginFormat::vst2, L"C:\\P\\A.dll", {Vst2(0x41414141, "Gain", "")}),
                  Module(PluginFormat::vst3, L"C:\\P\\A.vst3", {Vst3(GainClass, "Gain", " ")}),
                  Module(PluginFormat::vst2, L"C:\\P\\B.dll", {Vst2(0x42424242, "", Zandrel)}),
                  Module(PluginFormat::clap, L"C:\\P\\B.clap", {Clap("com.zandrel.b", "", Zandrel)})},
                 {"Gain ( ): vst3", "  vst3 C:\\P\\A.vst3 ABCDEF0123456789ABCDEF0123456789 'Gain' ' ' -",
                  "Gain: vst2", "  vst2 C:\\P\\A.dll 41414141 'Gain' '' -",
                  "com.zandrel.b (Zandrel Software): clap", "  clap C:\\P\\B.clap com.zandrel.b '' 'Zandrel Software' -",
                  "42424242 (Zandrel Software): vst2", "  vst2 C:\\P\\B.dll 42424242 '' 'Zandrel Software' -"}},
        // A failed plugin, a controller class, a shell's own entry: none is
        // a plugin, so none joins the product of the same name.
        Grouping{"EntriesThatNameNoPluginAreLeftOut",
                 {Module(PluginFormat::vst2, L"C:\\P\\Failed.dll",
                         {Vst2(0x5A47616E, "Zandrel Gain", Zandrel, Status::failed)}),
                  Module(PluginFormat::vst3, L"C:\\P\\Gain.vst3",
                         {Vst3(GainClass, "Zandrel Gain", Zandrel),
                          Vst3("5653454353616D706C65476169700000", "Zandrel Gain", Zandrel,
                               "Component Controller Class")}),
                  Module(PluginFormat::vst2, L"C:\\P\\Shell.dll",
                         {Vst2(0x5368656C, "Zandrel Gain", Zandrel), [] {
                              PluginEntry sub = Vst2(0x53480001, "Shell Chorus", Zandrel);
                              sub.shellId = 0x53480001;
                              return sub;
                          }()})},
                 {"Shell Chorus (Zandrel Software): vst2",
                  "  vst2 C:\\P\\Shell.dll 53480001 'Shell Chorus' 'Zandrel Software' -",
                  "Zandrel Gain (Zandrel Software): vst3",
                  "  vst3 C:\\P\\Gain.vst3 ABCDEF0123456789ABCDEF0123456789 'Zandrel Gain' 'Zandrel Software' -"}},
        // Products by vendor, then name, without letter case; members by
        // format, then path, then ID; name and vendor the first member's.
        Grouping{"OrderOfProductsAndMembers",
                 {Module(PluginFormat::vst2, L"C:\\P\\b.dll", {Vst2(0x00000002, "Delay", "acme")}),
                  Module(PluginFormat::vst2, L"C:\\P\\A.dll",
                         {Vst2(0x00000009, "delay", "Acme"), Vst2(0x00000001, "Delay", "Acme")}),
                  Module(PluginFormat::vst3, L"C:\\P\\Z.vst3", {Vst3(GainClass, "DELAY", "ACME")}),
                  Module(PluginFormat::vst2, L"C:\\P\\C.dll", {Vst2(0x00000003, "Chorus", "Acme")}),
                  Module(PluginFormat::vst2, L"C:\\P\\D.dll", {Vst2(0x00000004, "Aaa", "Beta")})},
                 {"Chorus (Acme): vst2", "  vst2 C:\\P\\C.dll 00000003 'Chorus' 'Acme' -",
                  "DELAY (ACME): vst3, vst2 [guessed]",
                  "  vst3 C:\\P\\Z.vst3 ABCDEF0123456789ABCDEF0123456789 'DELAY' 'ACME' guessed",
                  "  vst2 C:\\P\\A.dll 00000001 'Delay' 'Acme' guessed",
                  "  vst2 C:\\P\\A.dll 00000009 'delay' 'Acme' guessed",
                  "  vst2 C:\\P\\b.dll 00000002 'Delay' 'acme' guessed",
                  "Aaa (Beta): vst2", "  vst2 C:\\P\\D.dll 00000004 'Aaa' 'Beta' -"}}),
    [](const ::testing::TestParamInfo<Grouping>& info) { return std::string(info.param.name); });

TEST(DatabaseProducts, FileHoldsTheLinksAsDeclaredAndTheProductsAfterTheModules)
{
    ScratchFolder folder;
    ModuleRecord vst2 = clienttest::ScannedRecord(L"C:\\Plugins\\Gain.dll");
    vst2.result.plugins = {Vst2(0x5A47616E, "ZGain", Zandrel)};
    ModuleRecord vst3 = clienttest::ScannedRecord(L"C:\\Plugins\\Gain.vst3");
    vst3.result.format = PluginFormat::vst3;
    vst3.result.plugins = {Replacing(Vst3(GainClass, "Zandrel Gain", Zandrel),
                                     {{PluginFormat::vst3, "5653545A47616E7A67616E0000000000", "moduleinfo.json"},
                                      {PluginFormat::vst2, "5A47616E", "moduleinfo.json"}}),
                           Vst3("5653454353616D706C65476169700000", "Zandrel Gain", Zandrel, "Component Controller Class")};
    std::string error;
    {
        PluginDatabase db;
        ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
        ASSERT_TRUE(db.Record(vst2, &error)) << error;
        ASSERT_TRUE(db.Record(vst3, &error)) << error;
    }
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["products"], json::parse(R"([{
        "name": "Zandrel Gain", "vendor": "Zandrel Software", "formats": ["vst3", "vst2"],
        "plugins": [
          {"format": "vst3", "path": "C:\\Plugins\\Gain.vst3", "id": "ABCDEF0123456789ABCDEF0123456789", "link": "declared"},
          {"format": "vst2", "path": "C:\\Plugins\\Gain.dll", "id": "5A47616E", "link": "declared"}]}])"));
    EXPECT_EQ(document["modules"][1]["plugins"][0]["replaces"], json::parse(R"([
        {"format": "vst3", "id": "5653545A47616E7A67616E0000000000", "declaredBy": "moduleinfo.json"},
        {"format": "vst2", "id": "5A47616E", "declaredBy": "moduleinfo.json"}])"));
    EXPECT_FALSE(document["modules"][1]["plugins"][1].contains("replaces"));
    EXPECT_FALSE(document["modules"][0]["plugins"][0].contains("replaces"));
    // A parser's object forgets the order: the text keeps it.
    std::string text = ReadWholeFile(folder / L"plugins.json");
    EXPECT_LT(text.find("\"modules\""), text.find("\"products\""));

    // Read back, the links join the same product again.
    PluginDatabase again;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    EXPECT_EQ(Described(again.Products()),
              (std::vector<std::string>{
                  "Zandrel Gain (Zandrel Software): vst3, vst2 [declared]",
                  "  vst3 C:\\Plugins\\Gain.vst3 ABCDEF0123456789ABCDEF0123456789 'Zandrel Gain' 'Zandrel Software' declared",
                  "  vst2 C:\\Plugins\\Gain.dll 5A47616E 'ZGain' 'Zandrel Software' declared"}));
    EXPECT_EQ(again.Find(L"C:\\Plugins\\Gain.vst3")->result.plugins[0].replaces[1].declaredBy, "moduleinfo.json");
}

TEST(DatabaseProducts, EmptyDatabaseHasAnEmptyListAndAWrongListIsIgnoredOnReading)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"plugins.json", R"({"format": 2, "modules": [], "products": "made again"})");
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    ASSERT_TRUE(db.Remove({}, &error)) << error;
    EXPECT_EQ(ReadWholeFile(folder / L"plugins.json"),
              "{\n  \"format\": 2,\n  \"server\": \"\",\n  \"modules\": [],\n  \"products\": []\n}\n");
}

struct WrongLinks
{
    const char* name;
    const char* replaces;
    const char* reason;
};

void PrintTo(const WrongLinks& w, std::ostream* out)
{
    *out << w.name;
}

class DatabaseLinkRefusal : public ::testing::TestWithParam<WrongLinks>
{
};

TEST_P(DatabaseLinkRefusal, RefusesTheFileWithTheReason)
{
    ScratchFolder folder;
    const std::string bytes = std::string(R"({"format": 2, "modules": [{"path": "C:\\A.vst3", "format": "vst3",
        "size": 1, "modified": "x", "status": "ok", "plugins": [{"id": "ABCDEF0123456789ABCDEF0123456789",
        "status": "ok", "replaces": )") + GetParam().replaces + "}]}]}";
    WriteWholeFile(folder / L"plugins.json", bytes);
    PluginDatabase db;
    std::string error;
    EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
    EXPECT_EQ(error, "the database " + Utf8(folder / L"plugins.json") +
                         " is not readable, so it is left as it is: module 'C:\\A.vst3'.plugins[0]." +
                         GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DatabaseLinkRefusal,
    ::testing::Values(
        WrongLinks{"NotAList", R"({"format": "vst2", "id": "5A47616E"})", "replaces is not a list"},
        WrongLinks{"LinkNotAnObject", R"(["5A47616E"])", "replaces[0] is not an object"},
        WrongLinks{"NoFormat", R"([{"id": "5A47616E"}])", "replaces[0].format is missing"},
        WrongLinks{"UnknownFormat", R"([{"format": "au", "id": "5A47616E"}])",
                   "replaces[0].format is not vst2, vst3 or clap"},
        WrongLinks{"Vst2IdOfSevenDigits", R"([{"format": "vst2", "id": "5A47616"}])",
                   "replaces[0].id is not eight hexadecimal digits"},
        WrongLinks{"Vst3IdNotHex", R"([{"format": "vst3", "id": "ZZCDEF0123456789ABCDEF0123456789"}])",
                   "replaces[0].id is not 32 hexadecimal digits"},
        WrongLinks{"EmptyClapId", R"([{"format": "clap", "id": ""}])", "replaces[0].id is empty"},
        WrongLinks{"DeclaredByNotText", R"([{"format": "clap", "id": "com.a", "declaredBy": 1}])",
                   "replaces[0].declaredBy is not a text"}),
    [](const ::testing::TestParamInfo<WrongLinks>& info) { return std::string(info.param.name); });

} // namespace
