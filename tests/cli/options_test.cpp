// The command line parsed in process: how many servers -j / --jobs asks for.
// (Refused values and the help text go through the real tool in
// cli_scan_test.cpp.)
#include "options.h"
#include <gtest/gtest.h>

using orvantacli::Options;
using orvantacli::ParseOptions;

namespace {

int Parse(const std::vector<std::string>& args, Options* options, std::string* message)
{
    std::vector<std::string> all = {"orvanta-scan.exe"};
    all.insert(all.end(), args.begin(), args.end());
    return ParseOptions(all, options, message);
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

TEST(JobsOption, OneAndSixtyFourAreTheLimits)
{
    Options low, high;
    std::string message;
    EXPECT_EQ(Parse({"-j", "1", "C:\\Plugins"}, &low, &message), -1) << message;
    EXPECT_EQ(low.jobs, 1);
    EXPECT_EQ(Parse({"-j", "64", "C:\\Plugins"}, &high, &message), -1) << message;
    EXPECT_EQ(high.jobs, 64);
}

TEST(JobsOption, ZeroAndSixtyFiveAreUsageErrors)
{
    for (const char* value : {"0", "65", "-1", "two"})
    {
        Options options;
        std::string message;
        EXPECT_EQ(Parse({"-j", value, "C:\\Plugins"}, &options, &message), 2) << value;
        EXPECT_NE(message.find("--jobs"), std::string::npos) << value << ": " << message;
    }
}
