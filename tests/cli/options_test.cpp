// The command line parsed in process: how many servers -j / --jobs asks for,
// the ranges our options are checked against, and the formats --formats
// names. (The help and version
// text and the exit code of a usage error go through the real tool in
// cli_scan_test.cpp.)
#include "options.h"
#include <gtest/gtest.h>

using orvantacli::Options;
using orvantacli::ParseOptions;

namespace {

// The exit code the command line asks for, or -1 when it asks for a run.
int Parse(const std::vector<std::string>& args, Options* options, std::string* message)
{
    std::vector<std::string> all = {"orvanta-scan.exe"};
    all.insert(all.end(), args.begin(), args.end());
    orvantacli::Command command = ParseOptions(all, options);
    *message = command.message;
    return command.run ? -1 : command.exitCode;
}

} // namespace

TEST(JobsOption, ShortFormSetsTheServerCount)
{
    Options options;
    std::string message;
    EXPECT_EQ(Parse({"-j", "3", "C:\\Plugins"}, &options, &message), -1) << message;
    EXPECT_EQ(options.jobs, 3);
    ASSERT_EQ(options.paths.size(), 1u);
    EXPECT_EQ(options.paths[0], L"C:\\Plugins");
}

TEST(JobsOption, LongFormSetsTheServerCount)
{
    Options options;
    std::string message;
    EXPECT_EQ(Parse({"--jobs", "3", "C:\\Plugins"}, &options, &message), -1) << message;
    EXPECT_EQ(options.jobs, 3);
}

TEST(JobsOption, WithoutItTheCountIsLeftToTheProcessors)
{
    Options options;
    std::string message;
    EXPECT_EQ(Parse({"C:\\Plugins"}, &options, &message), -1) << message;
    EXPECT_EQ(options.jobs, 0);
}

// The range checks are the command-line library's; each row is one value
// at or just past the edge of its option's range, with a path after it.
TEST(OptionRanges, EdgesAreAcceptedAndValuesPastThemAreUsageErrors)
{
    struct Row
    {
        std::vector<std::string> args;
        int code;            // -1: the run goes on
        std::string message; // a part of the message ("" checks none)
    };
    const Row rows[] = {
        {{"-j", "1"}, -1, ""},
        {{"-j", "64"}, -1, ""},
        {{"-j", "0"}, 2, "--jobs"},
        {{"-j", "65"}, 2, "--jobs"},
        {{"-j", "-1"}, 2, "--jobs"},
        {{"-j", "two"}, 2, "--jobs"},
        {{"--jobs", "0"}, 2, "--jobs"},
        {{"--jobs", "65"}, 2, "--jobs"},
        {{"--timeout", "0"}, 2, ""},
        {{"--retries", "-1"}, 2, ""},
        // --list scans nothing, so a path is an error.
        {{"--list", "--quiet"}, 2, "--list"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        std::vector<std::string> args = row.args;
        args.push_back("C:\\Plugins");
        Options options;
        std::string message;
        EXPECT_EQ(Parse(args, &options, &message), row.code) << message;
        EXPECT_NE(message.find(row.message), std::string::npos) << message;
    }
}

TEST(FormatsOption, NamesAreReadInAnyCaseEachOnceInTheOrderGiven)
{
    using orvanta::PluginFormat;
    struct Row
    {
        std::string text;
        std::vector<PluginFormat> formats;
        std::string error; // "": accepted
    };
    const Row rows[] = {
        {"vst2,vst3", {PluginFormat::vst2, PluginFormat::vst3}, ""},
        {"VST3", {PluginFormat::vst3}, ""},
        {" vst3 , Vst2 ", {PluginFormat::vst3, PluginFormat::vst2}, ""},
        {"vst3,vst3", {PluginFormat::vst3}, ""},
        {"Clap, vst2", {PluginFormat::clap, PluginFormat::vst2}, ""},
        {"vst4", {}, "unknown format 'vst4' (known: vst2, vst3, clap)"},
        {"vst2,", {}, "an empty format name (known: vst2, vst3, clap)"},
        {"", {}, "an empty format name (known: vst2, vst3, clap)"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.text);
        std::vector<PluginFormat> formats = {PluginFormat::vst2};
        std::string error;
        EXPECT_EQ(orvantacli::ParseFormats(row.text, &formats, &error), row.error.empty());
        EXPECT_EQ(error, row.error);
        if (row.error.empty())
            EXPECT_EQ(formats, row.formats);
        else
            EXPECT_EQ(formats, std::vector<PluginFormat>{PluginFormat::vst2}); // untouched
    }
}

TEST(FormatsOption, NoPathNoFormatsAndNoDatabaseLeaveTheDefaultsToTheRun)
{
    Options options;
    std::string message;
    EXPECT_EQ(Parse({"--fast"}, &options, &message), -1) << message;
    EXPECT_TRUE(options.paths.empty());
    EXPECT_EQ(options.formats, (std::vector<orvanta::PluginFormat>{
                                   orvanta::PluginFormat::vst2, orvanta::PluginFormat::vst3, orvanta::PluginFormat::clap}));
    EXPECT_EQ(options.database, L"");
    EXPECT_TRUE(options.fast);
    EXPECT_EQ(Parse({"--formats", "vst3", "--db", "x.json", "C:\\P"}, &options, &message), -1) << message;
    EXPECT_EQ(options.formats, std::vector<orvanta::PluginFormat>{orvanta::PluginFormat::vst3});
    EXPECT_EQ(options.database, L"x.json");
}
