// Plugins grouped into products over entries built by hand (declared links
// across formats, guesses by vendor and name, entries that name no plugin),
// and the database file's "products" and "replaces" read back by a parser.
#include "../client_support.h"
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

const PluginFormat Vst2 = PluginFormat::vst2, Vst3 = PluginFormat::vst3, Clap = PluginFormat::clap;
const std::string Gain3 = "ABCDEF0123456789ABCDEF0123456789";

// One module of one format; each plugin of it is given as
// {id, name, vendor}, a VST3 one an audio module class.
ModuleRecord Module(PluginFormat format, const std::wstring& path, std::vector<std::vector<std::string>> plugins,
                    std::vector<FormatLink> firstReplaces = {})
{
    ModuleRecord record = clienttest::ScannedRecord(path);
    record.result.format = format;
    for (const std::vector<std::string>& p : plugins)
    {
        PluginEntry entry;
        if (format == Vst2)
        {
            entry.report.id = (uint32_t)std::stoul(p[0], nullptr, 16);
            entry.report.name = p[1];
            entry.report.vendor = p[2];
        }
        if (format == Vst3)
        {
            entry.vst3.emplace();
            entry.vst3->classId = p[0];
            entry.vst3->category = Vst3AudioModuleClass;
            entry.vst3->name = p[1];
            entry.vst3->vendor = p[2];
        }
        if (format == Clap)
        {
            entry.clap.emplace();
            entry.clap->id = p[0];
            entry.clap->name = p[1];
            entry.clap->vendor = p[2];
        }
        record.result.plugins.push_back(entry);
    }
    record.result.plugins[0].replaces = std::move(firstReplaces);
    return record;
}

// The module built for a machine ("x64", "x86").
ModuleRecord Built(ModuleRecord record, const std::string& machine)
{
    record.result.machine = machine;
    return record;
}

// "LINE | format path id [machine] link; ..." for each product.
std::vector<std::string> Described(const std::vector<Product>& products)
{
    std::vector<std::string> lines;
    for (const Product& product : products)
    {
        std::string line = ProductLine(product) + " |";
        for (const ProductMember& m : product.members)
            line += std::string(" ") + FormatName(m.format) + " " + ToUtf8(m.path) + " " + m.id + " " +
                    (m.machine.empty() ? "" : m.machine + " ") + (m.link.empty() ? "-" : m.link) + ";";
        lines.push_back(line);
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

INSTANTIATE_TEST_SUITE_P(
    Records, ProductGrouping,
    ::testing::Values(
        // As moduleinfo.json's list gives them, hex IDs in lower case; the
        // converted class ID itself names no entry.
        Grouping{"Vst3DeclaresVst2ThroughAConvertedId",
                 {Module(Vst2, L"G.dll", {{"5A47616E", "ZGain", "Zandrel"}}),
                  Module(Vst3, L"G.vst3", {{Gain3, "Gain", "Zandrel"}},
                         {{Vst3, "5653545a47616e7a67616e0000000000", "moduleinfo.json"},
                          {Vst2, "5a47616e", "moduleinfo.json"}})},
                 {"Gain (Zandrel): vst3, vst2 [declared] | vst3 G.vst3 " + Gain3 +
                  " declared; vst2 G.dll 5A47616E declared;"}},
        Grouping{"ClapDeclaresVst3AndALinkToNothingJoinsNothing",
                 {Module(Vst3, L"G.vst3", {{Gain3, "Gain", "Zandrel"}}),
                  Module(Clap, L"G.clap", {{"com.z.gain", "Gain 2", "Zandrel"}},
                         {{Vst3, "abcdef0123456789abcdef0123456789", "clap.plugin-factory-info-as-vst3.draft0"},
                          {Vst2, "00000001", "clap.plugin-state-converter-factory/1"}})},
                 {"Gain 2 (Zandrel): clap, vst3 [declared] | clap G.clap com.z.gain declared; vst3 G.vst3 " + Gain3 +
                  " declared;"}},
        Grouping{"SameVendorAndNameAcrossFormatsWhateverTheCaseAndBlanks",
                 {Module(Vst2, L"E.dll", {{"45636821", "Echo", "Zandrel"}}),
                  Module(Vst3, L"E.vst3", {{Gain3, " ECHO\t", "zandrel "}}),
                  Module(Clap, L"E.clap", {{"com.z.echo", "echo", "ZANDREL"}})},
                 {"echo (ZANDREL): clap, vst3, vst2 [guessed] | clap E.clap com.z.echo guessed; vst3 E.vst3 " + Gain3 +
                  " guessed; vst2 E.dll 45636821 guessed;"}},
        Grouping{"DeclaredPairWithAGuessedThirdFormat",
                 {Module(Vst2, L"G.dll", {{"5A47616E", "Gain", "Zandrel"}}),
                  Module(Vst3, L"G.vst3", {{Gain3, "Gain", "Zandrel"}}),
                  Module(Clap, L"G.clap", {{"com.z.gain", "Gain", "Zandrel"}}, {{Vst3, Gain3, "x"}})},
                 {"Gain (Zandrel): clap, vst3, vst2 [declared, guessed] | clap G.clap com.z.gain declared; vst3 "
                  "G.vst3 " + Gain3 + " declared; vst2 G.dll 5A47616E guessed;"}},
        // Without a vendor or a name nothing is guessed; a line without a
        // name shows the ID.
        Grouping{"NoGuessOnAnEmptyVendorOrName",
                 {Module(Vst2, L"A.dll", {{"41414141", "Gain", ""}}),
                  Module(Vst3, L"A.vst3", {{Gain3, "Gain", " "}}),
                  Module(Vst2, L"B.dll", {{"42424242", "", "Zandrel"}}),
                  Module(Clap, L"B.clap", {{"com.z.b", "", "Zandrel"}})},
                 {"Gain: vst2 | vst2 A.dll 41414141 -;", "Gain ( ): vst3 | vst3 A.vst3 " + Gain3 + " -;",
                  "com.z.b (Zandrel): clap | clap B.clap com.z.b -;",
                  "42424242 (Zandrel): vst2 | vst2 B.dll 42424242 -;"}},
        // A failed plugin, a controller class and a shell's own entry name
        // no plugin, so none joins the product of their name.
        Grouping{"EntriesThatNameNoPluginAreLeftOut",
                 [] {
                     ModuleRecord failed = Module(Vst2, L"F.dll", {{"5A47616E", "Gain", "Zandrel"}});
                     failed.result.plugins[0].status = Status::failed;
                     ModuleRecord bundle = Module(Vst3, L"G.vst3", {{Gain3, "Gain", "Zandrel"}, {"1", "Gain", "Zandrel"}});
                     bundle.result.plugins[1].vst3->category = "Component Controller Class";
                     ModuleRecord shell = Module(Vst2, L"S.dll", {{"5368656C", "Gain", "Zandrel"}, {"53480001", "Chorus", "Zandrel"}});
                     shell.result.plugins[1].shellId = 0x53480001;
                     return std::vector<ModuleRecord>{failed, bundle, shell};
                 }(),
                 {"Chorus (Zandrel): vst2 | vst2 S.dll 53480001 -;", "Gain (Zandrel): vst3 | vst3 G.vst3 " + Gain3 + " -;"}},
        // A plugin's 32-bit build is the same plugin, whatever its name
        // says: a product of one plugin, unless another joins it.
        Grouping{"BuildsForX64AndX86OfOnePluginAreOnePlugin",
                 {Built(Module(Vst2, L"G64.dll", {{"5A47616E", "Gain", "Zandrel"}}), "x64"),
                  Built(Module(Vst2, L"G32.dll", {{"5A47616E", "Gain (32 bit)", "Zandrel"}}), "x86"),
                  Built(Module(Clap, L"G64.clap", {{"com.z.gain", "Gain", "Zandrel"}}), "x64"),
                  Built(Module(Clap, L"G32.clap", {{"com.z.gain", "Gain", "Zandrel"}}), "x86"),
                  Built(Module(Vst3, L"D32.vst3", {{Gain3, "Delay", "Zandrel"}}), "x86"),
                  Built(Module(Vst3, L"D64.vst3", {{Gain3, "Delay", "Zandrel"}}), "x64")},
                 {"Delay (Zandrel): vst3 (x64, x86) | vst3 D32.vst3 " + Gain3 + " x86 -; vst3 D64.vst3 " + Gain3 +
                      " x64 -;",
                  "Gain (Zandrel): clap (x64, x86), vst2 (x64, x86) [guessed] | clap G32.clap com.z.gain x86 guessed; "
                  "clap G64.clap com.z.gain x64 guessed; vst2 G32.dll 5A47616E x86 guessed; vst2 G64.dll 5A47616E x64 "
                  "guessed;"}},
        // Two copies for one machine stay two plugins, as before machines
        // were known; the machines show only where a product has both.
        Grouping{"CopiesForOneMachineAreGuessedAndNameNoMachine",
                 {Built(Module(Vst2, L"A.dll", {{"5A47616E", "Gain", "Zandrel"}}), "x64"),
                  Built(Module(Vst2, L"B.dll", {{"5A47616E", "Gain", "Zandrel"}}), "x64")},
                 {"Gain (Zandrel): vst2 [guessed] | vst2 A.dll 5A47616E x64 guessed; vst2 B.dll 5A47616E x64 "
                  "guessed;"}},
        // Products by vendor, then name, without letter case, then path;
        // members by format, then path, then ID.
        Grouping{"OrderOfProductsAndMembers",
                 {Module(Vst2, L"b.dll", {{"00000002", "Delay", "acme"}}),
                  Module(Vst2, L"A.dll", {{"00000009", "delay", "Acme"}, {"00000001", "Delay", "Acme"}}),
                  Module(Vst3, L"Z.vst3", {{Gain3, "DELAY", "ACME"}}),
                  Module(Vst2, L"C.dll", {{"00000003", "Chorus", "Acme"}}),
                  Module(Vst2, L"D.dll", {{"00000004", "Aaa", "Beta"}})},
                 {"Chorus (Acme): vst2 | vst2 C.dll 00000003 -;",
                  "DELAY (ACME): vst3, vst2 [guessed] | vst3 Z.vst3 " + Gain3 +
                      " guessed; vst2 A.dll 00000001 guessed; vst2 A.dll 00000009 guessed; vst2 b.dll 00000002 guessed;",
                  "Aaa (Beta): vst2 | vst2 D.dll 00000004 -;"}}),
    [](const ::testing::TestParamInfo<Grouping>& info) { return std::string(info.param.name); });

// The file's own "products" is made again, whatever it held.
TEST(DatabaseProducts, FileHoldsTheDeclaredLinksAndTheProductsAfterTheModules)
{
    ScratchFolder folder;
    WriteWholeFile(folder / L"plugins.json", R"({"format": 2, "modules": [], "products": "made again"})");
    std::string error;
    {
        PluginDatabase db;
        ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
        ASSERT_TRUE(db.Record(Module(Vst2, L"C:\\P\\G.dll", {{"5A47616E", "ZGain", "Zandrel"}}), &error)) << error;
        ASSERT_TRUE(db.Record(Module(Vst3, L"C:\\P\\G.vst3", {{Gain3, "Gain", "Zandrel"}},
                                     {{Vst3, "5653545A47616E7A67616E0000000000", "moduleinfo.json"},
                                      {Vst2, "5A47616E", "moduleinfo.json"}}),
                              &error))
            << error;
    }
    json document = ReadJson(folder / L"plugins.json");
    EXPECT_EQ(document["modules"][1]["plugins"][0]["replaces"], json::parse(R"([
        {"format": "vst3", "id": "5653545A47616E7A67616E0000000000", "declaredBy": "moduleinfo.json"},
        {"format": "vst2", "id": "5A47616E", "declaredBy": "moduleinfo.json"}])"));
    EXPECT_FALSE(document["modules"][0]["plugins"][0].contains("replaces"));
    EXPECT_EQ(document["products"], json::parse(R"([{"name": "Gain", "vendor": "Zandrel", "formats": ["vst3", "vst2"],
        "plugins": [
          {"format": "vst3", "path": "C:\\P\\G.vst3", "id": "ABCDEF0123456789ABCDEF0123456789", "link": "declared"},
          {"format": "vst2", "path": "C:\\P\\G.dll", "id": "5A47616E", "link": "declared"}]}])"));
    std::string text = ReadWholeFile(folder / L"plugins.json");
    EXPECT_NE(text.find("  ],\n  \"products\": [\n    {\n"), std::string::npos) << text;

    // Read back, the links join the same product again.
    PluginDatabase again;
    ASSERT_TRUE(again.Open(folder / L"plugins.json", &error)) << error;
    EXPECT_EQ(Described(again.Products()), std::vector<std::string>{"Gain (Zandrel): vst3, vst2 [declared] | vst3 "
                                                                    "C:\\P\\G.vst3 " + Gain3 +
                                                                    " declared; vst2 C:\\P\\G.dll 5A47616E declared;"});
}

TEST(DatabaseProducts, EachMemberOfAProductNamesItsModulesMachine)
{
    ScratchFolder folder;
    PluginDatabase db;
    std::string error;
    ASSERT_TRUE(db.Open(folder / L"plugins.json", &error)) << error;
    ASSERT_TRUE(db.Record(Built(Module(Vst2, L"C:\\P\\G32.dll", {{"5A47616E", "Gain", "Zandrel"}}), "x86"), &error));
    ASSERT_TRUE(db.Record(Built(Module(Vst2, L"C:\\P\\G64.dll", {{"5A47616E", "Gain", "Zandrel"}}), "x64"), &error));
    EXPECT_EQ(ReadJson(folder / L"plugins.json")["products"], json::parse(R"([{"name": "Gain", "vendor": "Zandrel",
        "formats": ["vst2"], "plugins": [
          {"format": "vst2", "path": "C:\\P\\G32.dll", "id": "5A47616E", "machine": "x86", "link": ""},
          {"format": "vst2", "path": "C:\\P\\G64.dll", "id": "5A47616E", "machine": "x64", "link": ""}]}])"));
}

TEST(DatabaseProducts, MalformedLinkRefusesTheFileWithTheReason)
{
    const std::pair<const char*, const char*> rows[] = {
        {R"({"format": "vst2", "id": "5A47616E"})", "replaces is not a list"},
        {R"([{"format": "au", "id": "5A47616E"}])", "replaces[0].format is not vst2, vst3 or clap"},
        {R"([{"format": "vst2", "id": "5A47616"}])", "replaces[0].id is not eight hexadecimal digits"},
        {R"([{"format": "vst3", "id": "5A47616E"}])", "replaces[0].id is not 32 hexadecimal digits"},
        {R"([{"format": "clap", "id": ""}])", "replaces[0].id is empty"},
    };
    ScratchFolder folder;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.first);
        WriteWholeFile(folder / L"plugins.json",
                       std::string(R"({"format": 2, "modules": [{"path": "C:\\A.dll", "format": "vst2", "size": 1,
                           "modified": "x", "status": "ok", "plugins": [{"id": "5A47616E", "status": "ok",
                           "replaces": )") + row.first + "}]}]}");
        PluginDatabase db;
        std::string error;
        EXPECT_FALSE(db.Open(folder / L"plugins.json", &error));
        EXPECT_EQ(error, "the database " + Utf8(folder / L"plugins.json") +
                             " is not readable, so it is left as it is: module 'C:\\A.dll'.plugins[0]." + row.second);
    }
}

} // namespace
