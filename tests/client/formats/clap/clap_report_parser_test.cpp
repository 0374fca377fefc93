// The CLAP report blocks malformed in the ways the scanner tests do not
// reach: each is refused with the member named, so the scanner records the
// request as lost instead of reading half a block.
#include "formats/clap/clap_report_parser.h"
#include "server_script.h"
#include <gtest/gtest.h>

using namespace orvanta;
using namespace testsupport::clapanswers;

namespace {

// The report block of a scripted answer: its ">:" lines without the tag.
std::string BlockOf(const std::string& answer)
{
    std::string block;
    for (size_t at = 0; (at = answer.find("\n>:", at)) != std::string::npos;)
    {
        size_t end = answer.find('\n', at + 1);
        block += answer.substr(at + 3, end - at - 3) + "\n";
        at = end;
    }
    return block;
}

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

TEST(ClapReports, MalformedBlocksAreRefusedNamingTheMember)
{
    struct Row
    {
        bool module; // a module block, else a plugin block
        std::string block, error;
    };
    const std::string module = BlockOf(Module), plugin = BlockOf(Synth);
    const Row rows[] = {
        {true, With(module, "\"format\": \"clap\"", "\"format\": \"vst3\""),
         "malformed report: member \"format\" is not \"clap\""},
        {true, With(module, "\"pluginCount\": 3", "\"pluginCount\": -1"),
         "malformed report: member \"pluginCount\" is out of range"},
        {true, With(module, "\"vst3\": \"5653544753616D706C65476169700000\"", "\"vst3\": \"5653\""),
         "malformed report: member \"plugins[0].vst3\" is neither empty nor 32 hexadecimal digits"},
        {true, With(module, "\"features\": [\"audio-effect\", \"stereo\"]", "\"features\": [\"audio-effect\", 2]"),
         "malformed report: member \"plugins[0].features\" holds an entry that is not a text"},
        {true, With(module, ", \"dstId\": \"com.zandrel.gain\"}", "}"),
         "malformed report: member \"converters[0].dstId\" missing"},
        {false, With(plugin, "\"kind\": \"note\"", "\"kind\": \"midi\""),
         "malformed report: member \"ports[1].kind\" is not \"audio\" or \"note\""},
        {false, With(plugin, ", \"preferred\": 1", ""), "malformed report: member \"ports[1].preferred\" missing"},
        {false, With(plugin, "\"direction\": \"out\"", "\"direction\": \"both\""),
         "malformed report: member \"ports[0].direction\" is not \"in\" or \"out\""},
        {false, With(plugin, "\"noteInputPorts\": 1", "\"noteInputPorts\": -1"),
         "malformed report: member \"noteInputPorts\" is out of range"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.error);
        std::string error;
        ClapModuleReport moduleReport;
        ClapPluginReport pluginReport;
        EXPECT_FALSE(row.module ? ParseClapModuleReport(row.block, &moduleReport, &error)
                                : ParseClapPluginReport(row.block, &pluginReport, &error));
        EXPECT_EQ(error, row.error);
    }
    // The blocks they were made from are read.
    ClapModuleReport moduleReport;
    ClapPluginReport pluginReport;
    std::string error;
    EXPECT_TRUE(ParseClapModuleReport(module, &moduleReport, &error)) << error;
    EXPECT_TRUE(ParseClapPluginReport(plugin, &pluginReport, &error)) << error;
}
