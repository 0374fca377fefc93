// A VST3 bundle's moduleinfo.json read from real files: JSON5 comments and
// trailing commas, the older place, files that cannot be used (each a
// finding, word for word), what differs from the factory, and the module
// --fast lists from the file alone.
#include "files.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <orvanta/module_info.h>
#include <gtest/gtest.h>

using namespace orvanta;
using namespace testsupport;

namespace {

// As the SDK's tool writes it, with a comment of each kind and trailing
// commas everywhere JSON5 allows them, and comment markers and a ",}"
// inside strings that must stay as they are.
const char* const GainInfo = R"json5({
  // Written by hand for the tests.
  "Name": "Gain",
  "Version": "1.2.3",
  "Factory Info": {
    "Vendor": "Zandrel Software",
    "URL": "https://example.com/a//b",
    "E-Mail": "mail@example.com",
    "Flags": {
      "Unicode": true,
      "Classes Discardable": false,
      "Component Non Discardable": true, /* no other flag set */
    },
  },
  "Classes": [
    {
      "CID": "5653544753616d706c65476169700000",
      "Category": "Audio Module Class",
      "Name": "Gain /* not a comment */ // nor this",
      "Vendor": "Zandrel Software",
      "Version": "1.2.3",
      "SDKVersion": "VST 3.7.9",
      "Sub Categories": [
        "Fx",
        "Stereo",
      ],
      "Class Flags": 1,
      "Cardinality": 2147483647,
      "Snapshots": [],
    },
    {
      "CID": "5653454753616D706C65476169700000",
      "Category": "Component Controller Class",
      "Name": "Gain,}",
      "Vendor": "Zandrel Software",
      "Version": "1.2.3",
      "SDKVersion": "VST 3.7.9",
      "Sub Categories": [],
      "Class Flags": 0,
      "Cardinality": 2147483647,
    },
  ],
}
)json5";

Vst3Class Class(const std::string& id, const std::string& category, const std::string& name,
                const std::string& version = "1.2.3")
{
    Vst3Class c;
    c.classId = id;
    c.category = category;
    c.name = name;
    c.vendor = "Zandrel Software";
    c.version = version;
    return c;
}

const std::string GainId = "5653544753616D706C65476169700000";
const std::string ControllerId = "5653454753616D706C65476169700000";

} // namespace

TEST(ModuleInfo, Json5FileGivesTheFactoryAndEveryClass)
{
    ScratchFolder folder;
    std::wstring bundle = MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ"), std::string(GainInfo));
    ModuleInfo info = ReadModuleInfo(bundle);
    EXPECT_EQ(Utf8(info.path), Utf8(bundle + L"\\Contents\\Resources\\moduleinfo.json"));
    EXPECT_TRUE(info.read);
    EXPECT_EQ(info.findings, std::vector<std::string>{});
    EXPECT_EQ(info.factory.vendor, "Zandrel Software");
    EXPECT_EQ(info.factory.url, "https://example.com/a//b");
    EXPECT_EQ(info.factory.email, "mail@example.com");
    EXPECT_EQ(info.factory.flags, 8 | 16);
    ASSERT_EQ(info.classes.size(), 2u);
    const Vst3Class& gain = info.classes[0];
    EXPECT_EQ(gain.classId, GainId);
    EXPECT_EQ(gain.category, "Audio Module Class");
    EXPECT_EQ(gain.name, "Gain /* not a comment */ // nor this");
    EXPECT_EQ(gain.vendor, "Zandrel Software");
    EXPECT_EQ(gain.version, "1.2.3");
    EXPECT_EQ(gain.sdkVersion, "VST 3.7.9");
    EXPECT_EQ(gain.subCategories, (std::vector<std::string>{"Fx", "Stereo"}));
    EXPECT_EQ(gain.classFlags, 1u);
    EXPECT_EQ(gain.cardinality, 2147483647);
    EXPECT_FALSE(gain.buses.has_value());
    EXPECT_EQ(gain.sources, std::vector<std::string>{"moduleinfo.json"});
    EXPECT_EQ(info.classes[1].classId, ControllerId);
    EXPECT_EQ(info.classes[1].name, "Gain,}");
    EXPECT_EQ(info.classes[1].subCategories, std::vector<std::string>{});
}

TEST(ModuleInfo, OlderPlaceIsReadWhenTheResourcesFolderHasNone)
{
    ScratchFolder folder;
    std::wstring bundle = MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ"));
    WriteWholeFile(bundle + L"\\Contents\\moduleinfo.json", GainInfo);
    ModuleInfo info = ReadModuleInfo(bundle);
    EXPECT_EQ(Utf8(info.path), Utf8(bundle + L"\\Contents\\moduleinfo.json"));
    EXPECT_EQ(info.classes.size(), 2u);

    // Both there: the Resources one counts.
    MakeFolders(bundle + L"\\Contents\\Resources");
    WriteWholeFile(bundle + L"\\Contents\\Resources\\moduleinfo.json", "{\"Classes\": []}");
    info = ReadModuleInfo(bundle);
    EXPECT_EQ(Utf8(info.path), Utf8(bundle + L"\\Contents\\Resources\\moduleinfo.json"));
    EXPECT_EQ(info.classes.size(), 0u);
}

TEST(ModuleInfo, FileThatStartsWithAByteOrderMarkIsRead)
{
    ScratchFolder folder;
    std::wstring bundle =
        MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ"), std::string("\xEF\xBB\xBF") + GainInfo);
    ModuleInfo info = ReadModuleInfo(bundle);
    EXPECT_TRUE(info.read);
    EXPECT_EQ(info.findings, std::vector<std::string>{});
    EXPECT_EQ(info.classes.size(), 2u);
}

TEST(ModuleInfo, BundleWithoutTheFileHasNoFinding)
{
    ScratchFolder folder;
    ModuleInfo info = ReadModuleInfo(MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ")));
    EXPECT_EQ(info.path, L"");
    EXPECT_FALSE(info.read);
    EXPECT_EQ(info.findings, std::vector<std::string>{});
}

// Each file that cannot be used, or only in part, and the finding it gives.
TEST(ModuleInfo, FileThatCannotBeUsedIsAFindingInWords)
{
    struct Row
    {
        std::string text;
        bool read;
        std::string finding;
    };
    const std::string cid = "\"CID\": \"" + GainId + "\"";
    const Row rows[] = {
        {"{\"Classes\": [}", false,
         "moduleinfo.json is not valid JSON5: parse error at line 1, column 14: syntax error while parsing value - "
         "unexpected '}'; expected '[', '{', or a literal"},
        // Line and column still count the comments' lines.
        {"{\n/* one\ntwo */ \"Classes\": [],\n\"Name\" \"x\"}", false,
         "moduleinfo.json is not valid JSON5: parse error at line 4, column 10: syntax error while parsing object "
         "separator - unexpected string literal; expected ':'"},
        {"{\"Classes\": [,]}", false,
         "moduleinfo.json is not valid JSON5: parse error at line 1, column 14: syntax error while parsing value - "
         "unexpected ','; expected '[', '{', or a literal"},
        {"{\"Classes\": [1,,]}", false,
         "moduleinfo.json is not valid JSON5: parse error at line 1, column 16: syntax error while parsing value - "
         "unexpected ','; expected '[', '{', or a literal"},
        {"{\"Classes\": [] /* never closed", false, "moduleinfo.json is not valid JSON5: a comment that is never closed"},
        {"", false,
         "moduleinfo.json is not valid JSON5: parse error at line 1, column 1: syntax error while parsing value - "
         "unexpected end of input; expected '[', '{', or a literal"},
        {"[{}]", false, "moduleinfo.json holds no object"},
        {"{\"Name\": \"Gain\"}", true, "moduleinfo.json has no \"Classes\" list"},
        {"{\"Classes\": {}}", true, "moduleinfo.json has no \"Classes\" list"},
        {"{\"Classes\": [7]}", true, "moduleinfo.json: class 1 is not an object"},
        {"{\"Classes\": [{\"CID\": \"5653\"}]}", true,
         "moduleinfo.json: class 1 has no \"CID\" of 32 hexadecimal digits"},
        {"{\"Classes\": [{\"CID\": \"5653544753616D706C6547616970000G\"}]}", true,
         "moduleinfo.json: class 1 has no \"CID\" of 32 hexadecimal digits"},
        {"{\"Classes\": [{\"CID\": 5653}]}", true,
         "moduleinfo.json: class 1 has no \"CID\" of 32 hexadecimal digits"},
        {"{\"Classes\": [{\"Name\": \"Gain\"}]}", true,
         "moduleinfo.json: class 1 has no \"CID\" of 32 hexadecimal digits"},
        {"{\"Classes\": [{" + cid + ", \"Name\": 5}]}", true,
         "moduleinfo.json: class " + GainId + ": \"Name\" is not a text"},
        {"{\"Classes\": [{" + cid + ", \"Sub Categories\": \"Fx|Stereo\"}]}", true,
         "moduleinfo.json: class " + GainId + ": \"Sub Categories\" is not a list of texts"},
        {"{\"Classes\": [{" + cid + ", \"Sub Categories\": [\"Fx\", 2]}]}", true,
         "moduleinfo.json: class " + GainId + ": \"Sub Categories\" is not a list of texts"},
        {"{\"Classes\": [{" + cid + ", \"Class Flags\": \"1\"}]}", true,
         "moduleinfo.json: class " + GainId + ": \"Class Flags\" is not a whole number"},
        {"{\"Classes\": [{" + cid + "}, {" + cid + "}]}", true,
         "moduleinfo.json: class " + GainId + " is listed twice"},
        {"{\"Factory Info\": [], \"Classes\": []}", true, "moduleinfo.json: \"Factory Info\" is not an object"},
        {"{\"Factory Info\": {\"Vendor\": null}, \"Classes\": []}", true,
         "moduleinfo.json: \"Factory Info\": \"Vendor\" is not a text"},
        {"{\"Classes\": [], \"Compatibility\": {}}", true, "moduleinfo.json: \"Compatibility\" is not a list"},
        {"{\"Classes\": [], \"Compatibility\": [7]}", true,
         "moduleinfo.json: \"Compatibility\" entry 1 has no \"New\" of 32 hexadecimal digits"},
        {"{\"Classes\": [], \"Compatibility\": [{\"New\": \"5653\", \"Old\": []}]}", true,
         "moduleinfo.json: \"Compatibility\" entry 1 has no \"New\" of 32 hexadecimal digits"},
        {"{\"Classes\": [], \"Compatibility\": [{\"New\": \"" + GainId + "\", \"Old\": \"5653\"}]}", true,
         "moduleinfo.json: \"Compatibility\" entry 1 has no \"Old\" list"},
        {"{\"Classes\": [], \"Compatibility\": [{\"New\": \"" + GainId + "\", \"Old\": [\"5653\"]}]}", true,
         "moduleinfo.json: \"Compatibility\" entry 1: \"Old\" holds \"5653\", not 32 hexadecimal digits"},
        {"{\"Classes\": [{\"CID\": \"\xE9\"}]}", false,
         "moduleinfo.json is not valid JSON5: parse error at line 1, column 24: syntax error while parsing value - "
         "invalid string: ill-formed UTF-8 byte; last read: '\"\xE9\"'"},
    };
    ScratchFolder folder;
    int n = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.text);
        std::wstring bundle = MakeBundle(folder.Path(), L"B" + std::to_wstring(++n) + L".vst3", std::string("MZ"), row.text);
        ModuleInfo info = ReadModuleInfo(bundle);
        EXPECT_EQ(info.read, row.read);
        EXPECT_EQ(info.findings, std::vector<std::string>{row.finding});
        // A file with a finding is never the whole truth: --fast scans it.
        EXPECT_FALSE(ModuleInfoResult(bundle).has_value());
    }
}

TEST(ModuleInfo, FileOverTheLimitIsNotReadAndSaysSo)
{
    ScratchFolder folder;
    std::string huge = "{\"Classes\": []}";
    huge.resize(ModuleInfoSizeLimit + 1, ' ');
    std::wstring bundle = MakeBundle(folder.Path(), L"Huge.vst3", std::string("MZ"), huge);
    ModuleInfo info = ReadModuleInfo(bundle);
    EXPECT_FALSE(info.read);
    EXPECT_EQ(info.findings, std::vector<std::string>{"moduleinfo.json is 4194305 bytes, over the limit of 4194304; not read"});

    // At the limit it is read.
    huge.resize(ModuleInfoSizeLimit);
    WriteWholeFile(bundle + L"\\Contents\\Resources\\moduleinfo.json", huge);
    info = ReadModuleInfo(bundle);
    EXPECT_TRUE(info.read);
    EXPECT_EQ(info.findings, std::vector<std::string>{});
}

TEST(ModuleInfoComparison, EveryDifferenceFromTheFactoryIsOneSentence)
{
    const std::string onlyInFile = "11111111222222223333333344444444";
    const std::string onlyInFactory = "AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDD";
    std::vector<Vst3Class> file = {Class(GainId, "Audio Module Class", "Gain"),
                                   Class(onlyInFile, "Audio Module Class", "Ghost"),
                                   Class(ControllerId, "Component Controller Class", "Gain")};
    Vst3Class renamed = Class(GainId, "Audio Module Class", "Gain Pro", "1.2.4");
    renamed.vendor = "Zandrel";
    Vst3Class unreadable; // class info failed: no ID
    std::vector<Vst3Class> factory = {Class(ControllerId, "Audio Module Class", "Gain"), renamed,
                                      Class(onlyInFactory, "Audio Module Class", "Extra"), unreadable};
    // The factory's IDs may come in lower case: the same class.
    factory[0].classId = "5653454753616d706c65476169700000";

    EXPECT_EQ(CompareModuleInfo(file, factory),
              (std::vector<std::string>{
                  "class 5653544753616D706C65476169700000: name 'Gain' in moduleinfo.json, 'Gain Pro' from the factory",
                  "class 5653544753616D706C65476169700000: vendor 'Zandrel Software' in moduleinfo.json, 'Zandrel' "
                  "from the factory",
                  "class 5653544753616D706C65476169700000: version '1.2.3' in moduleinfo.json, '1.2.4' from the "
                  "factory",
                  "class 11111111222222223333333344444444 ('Ghost'): in moduleinfo.json, not listed by the factory",
                  "class 5653454753616D706C65476169700000: category 'Component Controller Class' in moduleinfo.json, "
                  "'Audio Module Class' from the factory",
                  "class AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDD ('Extra'): listed by the factory, not in moduleinfo.json",
              }));
    EXPECT_EQ(CompareModuleInfo(file, file), std::vector<std::string>{});
}

TEST(ModuleInfoResult, BundleToBeScannedIsNotListedFromTheFile)
{
    ScratchFolder folder;
    struct Row
    {
        const wchar_t* name;
        std::optional<std::string> binary, info;
    };
    const Row rows[] = {
        {L"NoFile.vst3", std::string("MZ"), std::nullopt},
        {L"NoBinary.vst3", std::nullopt, std::string(GainInfo)},
        {L"NoClass.vst3", std::string("MZ"), std::string("{\"Classes\": []}")},
        {L"Broken.vst3", std::string("MZ"), std::string("{\"Classes\": [")},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(Utf8(row.name));
        EXPECT_FALSE(ModuleInfoResult(MakeBundle(folder.Path(), row.name, row.binary, row.info)).has_value());
    }
    // A legacy single-file module has no moduleinfo.json.
    EXPECT_FALSE(ModuleInfoResult(folder.Write(L"Legacy.vst3", "MZ")).has_value());
}

// A class that names no vendor shows the factory's, as the SDK's host reads
// it: from the file as from the factory, so that a file the SDK's tool
// wrote (which fills it in) agrees with a factory that leaves it empty.
TEST(ModuleInfo, ClassWithoutAVendorIsReadWithTheFactorysAndAgreesWithTheFactory)
{
    ScratchFolder folder;
    std::string text = GainInfo;
    const std::string vendorLine = "      \"Vendor\": \"Zandrel Software\",\n";
    text.erase(text.find(vendorLine), vendorLine.size()); // the audio module class's only
    ModuleInfo info = ReadModuleInfo(MakeBundle(folder.Path(), L"Gain.vst3", std::string("MZ"), text));
    ASSERT_EQ(info.classes.size(), 2u);
    EXPECT_EQ(info.classes[0].vendor, "Zandrel Software");
    EXPECT_TRUE(info.classes[0].vendorFromFactory);
    EXPECT_FALSE(info.classes[1].vendorFromFactory);

    Vst3Class fromFactory = Class(GainId, "Audio Module Class", "Gain /* not a comment */ // nor this");
    fromFactory.vendor = "Zandrel Software";
    fromFactory.vendorFromFactory = true;
    Vst3Class controller = Class(ControllerId, "Component Controller Class", "Gain,}");
    EXPECT_EQ(CompareModuleInfo(info.classes, {fromFactory, controller}), std::vector<std::string>{});
}
