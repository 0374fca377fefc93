// The VST3 report blocks as the server prints them (strict JSON, one member
// a line), and blocks that are malformed in each way a broken or cut-off
// answer can be.
#include "formats/vst3/vst3_report_parser.h"
#include <gtest/gtest.h>

using namespace orvanta;

namespace {

const std::string ModuleBlock =
    "{\n"
    "  \"format\": \"vst3\",\n"
    "  \"error\": \"\",\n"
    "  \"phase\": \"\",\n"
    "  \"initDll\": true,\n"
    "  \"exitDll\": false,\n"
    "  \"factory\": {\"vendor\": \"Zandrel Software\", \"url\": \"https://example.com\", \"email\": \"info@example.com\", \"flags\": 16},\n"
    "  \"classCount\": 3,\n"
    "  \"classes\": [\n"
    "    {\"index\": 0, \"cid\": \"5653544753616D706C65476169700000\", \"category\": \"Audio Module Class\", \"name\": \"Sample Gain\", \"cardinality\": 2147483647, \"infoLevel\": 3, \"classFlags\": 1, \"subCategories\": \"Fx|Stereo\", \"vendor\": \"Zandrel Software\", \"version\": \"1.2.3\", \"sdkVersion\": \"VST 3.7.0\"},\n"
    "    {\"index\": 1, \"cid\": \"5653454353616d706c65476169700000\", \"category\": \"Component Controller Class\", \"name\": \"Sample Gain Controller\", \"cardinality\": 2147483647, \"infoLevel\": 1, \"classFlags\": 0, \"subCategories\": \"\", \"vendor\": \"\", \"version\": \"\", \"sdkVersion\": \"\"},\n"
    "    {\"index\": 2, \"cid\": \"\", \"category\": \"\", \"name\": \"\", \"cardinality\": 0, \"infoLevel\": 0, \"classFlags\": 0, \"subCategories\": \"\", \"vendor\": \"\", \"version\": \"\", \"sdkVersion\": \"\"}\n"
    "  ]\n"
    "}\n";

const std::string ClassBlock =
    "{\n"
    "  \"format\": \"vst3\",\n"
    "  \"cid\": \"5653544753616D706C65476169700000\",\n"
    "  \"error\": \"\",\n"
    "  \"phase\": \"\",\n"
    "  \"audioInputBuses\": 2,\n"
    "  \"audioOutputBuses\": 1,\n"
    "  \"eventInputBuses\": 1,\n"
    "  \"eventOutputBuses\": 0,\n"
    "  \"audioInputs\": 2,\n"
    "  \"audioOutputs\": 2,\n"
    "  \"buses\": [\n"
    "    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 0, \"name\": \"Audio Input\", \"channels\": 2, \"busType\": 0, \"flags\": 1},\n"
    "    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 1, \"name\": \"Sidechain\", \"channels\": 2, \"busType\": 1, \"flags\": 0},\n"
    "    {\"media\": \"audio\", \"direction\": \"out\", \"index\": 0, \"name\": \"Audio Output\", \"channels\": 2, \"busType\": 0, \"flags\": 1},\n"
    "    {\"media\": \"event\", \"direction\": \"in\", \"index\": 0, \"name\": \"Event/MIDI Input\", \"channels\": 1, \"busType\": 0, \"flags\": 1}\n"
    "  ]\n"
    "}\n";

// The block with the first occurrence of 'from' replaced.
std::string With(const std::string& block, const std::string& from, const std::string& to)
{
    std::string text = block;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(Vst3ModuleReport, FactoryAndEveryClassAreRead)
{
    Vst3ModuleReport report;
    std::string error;
    ASSERT_TRUE(ParseVst3ModuleReport(ModuleBlock, &report, &error)) << error;
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.phase, "");
    EXPECT_TRUE(report.initDll);
    EXPECT_FALSE(report.exitDll);
    EXPECT_EQ(report.factory.vendor, "Zandrel Software");
    EXPECT_EQ(report.factory.url, "https://example.com");
    EXPECT_EQ(report.factory.email, "info@example.com");
    EXPECT_EQ(report.factory.flags, 16);
    EXPECT_EQ(report.classCount, 3);
    ASSERT_EQ(report.classes.size(), 3u);

    const Vst3ModuleReport::Class& gain = report.classes[0];
    EXPECT_EQ(gain.index, 0);
    EXPECT_EQ(gain.infoLevel, 3);
    EXPECT_EQ(gain.info.classId, "5653544753616D706C65476169700000");
    EXPECT_EQ(gain.info.category, "Audio Module Class");
    EXPECT_EQ(gain.info.name, "Sample Gain");
    EXPECT_EQ(gain.info.cardinality, 2147483647);
    EXPECT_EQ(gain.info.classFlags, 1u);
    EXPECT_EQ(gain.info.subCategories, (std::vector<std::string>{"Fx", "Stereo"}));
    EXPECT_EQ(gain.info.vendor, "Zandrel Software");
    EXPECT_EQ(gain.info.version, "1.2.3");
    EXPECT_EQ(gain.info.sdkVersion, "VST 3.7.0");
    EXPECT_FALSE(gain.info.buses);
    EXPECT_TRUE(gain.info.sources.empty());

    // Lower-case digits are taken and given back in upper case.
    EXPECT_EQ(report.classes[1].info.classId, "5653454353616D706C65476169700000");
    EXPECT_EQ(report.classes[1].infoLevel, 1);
    EXPECT_TRUE(report.classes[1].info.subCategories.empty());
    // A class whose info could not be read has no ID.
    EXPECT_EQ(report.classes[2].infoLevel, 0);
    EXPECT_EQ(report.classes[2].info.classId, "");
}

TEST(Vst3ModuleReport, SubCategoriesAreSplitOnBarsWithoutEmptyParts)
{
    EXPECT_EQ(SplitSubCategories("Instrument|Synth|Stereo"),
              (std::vector<std::string>{"Instrument", "Synth", "Stereo"}));
    EXPECT_EQ(SplitSubCategories("Fx||Delay|"), (std::vector<std::string>{"Fx", "Delay"}));
    EXPECT_EQ(SplitSubCategories("Fx"), (std::vector<std::string>{"Fx"}));
    EXPECT_TRUE(SplitSubCategories("").empty());
}

TEST(Vst3ClassReport, BusCountsChannelsAndEachBusAreRead)
{
    Vst3ClassReport report;
    std::string error;
    ASSERT_TRUE(ParseVst3ClassReport(ClassBlock, &report, &error)) << error;
    EXPECT_EQ(report.classId, "5653544753616D706C65476169700000");
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.buses.audioInputBuses, 2);
    EXPECT_EQ(report.buses.audioOutputBuses, 1);
    EXPECT_EQ(report.buses.eventInputBuses, 1);
    EXPECT_EQ(report.buses.eventOutputBuses, 0);
    EXPECT_EQ(report.buses.audioInputs, 2);
    EXPECT_EQ(report.buses.audioOutputs, 2);
    ASSERT_EQ(report.busList.size(), 4u);
    EXPECT_EQ(report.busList[1].media, "audio");
    EXPECT_EQ(report.busList[1].direction, "in");
    EXPECT_EQ(report.busList[1].index, 1);
    EXPECT_EQ(report.busList[1].name, "Sidechain");
    EXPECT_EQ(report.busList[1].channels, 2);
    EXPECT_EQ(report.busList[1].busType, 1);
    EXPECT_EQ(report.busList[1].flags, 0u);
    EXPECT_EQ(report.busList[3].media, "event");
    EXPECT_EQ(report.busList[3].name, "Event/MIDI Input");
}

struct Malformed
{
    const char* name;
    bool module; // else a class block
    std::string block;
    const char* error;
};

// Each case shows as its name, not as its bytes.
void PrintTo(const Malformed& m, std::ostream* out)
{
    *out << m.name;
}

class Vst3Malformed : public ::testing::TestWithParam<Malformed>
{
};

TEST_P(Vst3Malformed, IsRefusedWithTheReasonAndLeavesTheReportAlone)
{
    const Malformed& m = GetParam();
    std::string error;
    if (m.module)
    {
        Vst3ModuleReport report;
        report.error = "untouched";
        EXPECT_FALSE(ParseVst3ModuleReport(m.block, &report, &error));
        EXPECT_EQ(report.error, "untouched");
    }
    else
    {
        Vst3ClassReport report;
        report.error = "untouched";
        EXPECT_FALSE(ParseVst3ClassReport(m.block, &report, &error));
        EXPECT_EQ(report.error, "untouched");
    }
    EXPECT_EQ(error, m.error);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Vst3Malformed,
    ::testing::Values(
        Malformed{"TrailingComma", true, With(ModuleBlock, "\"sdkVersion\": \"\"}\n  ]", "\"sdkVersion\": \"\"},\n  ]"),
                  "malformed report: not strict JSON at line 13, column 3"},
        Malformed{"CutOff", true, ModuleBlock.substr(0, 120),
                  "malformed report: not strict JSON at line 7, column 30"},
        Malformed{"TextAfterTheBlock", false, ClassBlock + "}\n",
                  "malformed report: not strict JSON at line 19, column 1"},
        Malformed{"NotAnObject", false, "[]\n", "malformed report: not an object"},
        Malformed{"Vst2Format", true, With(ModuleBlock, "\"vst3\"", "\"vst2\""),
                  "malformed report: member \"format\" is not \"vst3\""},
        Malformed{"MissingMember", true, With(ModuleBlock, "  \"exitDll\": false,\n", ""),
                  "malformed report: member \"exitDll\" missing"},
        Malformed{"MissingFactoryMember", true, With(ModuleBlock, "\"email\": \"info@example.com\", ", ""),
                  "malformed report: member \"factory.email\" missing"},
        Malformed{"FlagAsText", true, With(ModuleBlock, "\"initDll\": true", "\"initDll\": \"yes\""),
                  "malformed report: member \"initDll\" is not true or false"},
        Malformed{"ClassesNotAList", true,
                  "{\"format\": \"vst3\", \"error\": \"\", \"phase\": \"\", \"initDll\": false, \"exitDll\": false,\n"
                  " \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n"
                  " \"classCount\": 0, \"classes\": {}}\n",
                  "malformed report: member \"classes\" is not a list"},
        Malformed{"ShortClassId", true,
                  With(ModuleBlock, "5653544753616D706C65476169700000", "5653544753616D706C6547616970000"),
                  "malformed report: member \"classes[0].cid\" is not 32 hexadecimal digits"},
        Malformed{"ClassIdNotHex", false,
                  With(ClassBlock, "5653544753616D706C65476169700000", "5653544753616D706C6547616970000G"),
                  "malformed report: member \"cid\" is not 32 hexadecimal digits"},
        Malformed{"ClassWithoutName", true, With(ModuleBlock, "\"name\": \"Sample Gain\", ", ""),
                  "malformed report: member \"classes[0].name\" missing"},
        Malformed{"NegativeClassCount", true, With(ModuleBlock, "\"classCount\": 3", "\"classCount\": -1"),
                  "malformed report: member \"classCount\" is out of range"},
        Malformed{"HugeNumber", true, With(ModuleBlock, "\"classCount\": 3", "\"classCount\": 99999999999"),
                  "malformed report: member \"classCount\" is out of range"},
        Malformed{"InfoLevelFour", true, With(ModuleBlock, "\"infoLevel\": 3", "\"infoLevel\": 4"),
                  "malformed report: member \"classes[0].infoLevel\" is out of range"},
        Malformed{"BusOfUnknownMedia", false, With(ClassBlock, "\"media\": \"event\"", "\"media\": \"midi\""),
                  "malformed report: member \"buses[3].media\" is not \"audio\" or \"event\""},
        Malformed{"BusWithoutChannels", false, With(ClassBlock, "\"channels\": 1, ", ""),
                  "malformed report: member \"buses[3].channels\" missing"},
        Malformed{"NegativeBusCount", false, With(ClassBlock, "\"eventOutputBuses\": 0", "\"eventOutputBuses\": -2"),
                  "malformed report: a bus count or channel count is below 0"}),
    [](const ::testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });
