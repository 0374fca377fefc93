// The version field: the plugin's vendor version in each of its number
// ranges, and the module file's version resource when the plugin gives 0.
#include "scan_support.h"

namespace {

class ScanVersion : public ScanTest
{
};

TEST_F(ScanVersion, VendorVersionRanges)
{
    struct Case
    {
        const char* value;
        const char* version;
    } cases[] = {
        {"1", "1.0.0.0"},
        {"9", "9.0.0.0"},
        {"10", "0.0.1.0"},
        {"1234", "1.2.3.4"},
        {"9999", "9.9.9.9"},
        {"10000", "1.0.0.0"},
        {"12345", "1.2.3.4"},
        {"65535", "6.5.5.3"},
        {"65536", "1.0.0.0"},
        {"0x010203", "1.2.3.0"},
        {"6619135", "100.255.255.0"},
        {"6619136", "0.66.19.136"},
        {"10203004", "1.2.3.4"},
        {"2147483647", "214.74.83.647"},
        {"-1", "-1.0.0.0"},
        {"-2147483648", "-2147483648.0.0.0"},
        {"0", ""},
    };
    int n = 0;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.value);
        std::wstring dll = Plugin("V" + std::to_string(n++), std::string("vendorversion=") + c.value + "\ncategory=1\n");
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, PlainAnswer(dll, std::string(">:{\n"
                                                       ">:  \"id\":        \"00000000\",\n"
                                                       ">:  \"name\":      \"\",\n"
                                                       ">:  \"vendor\":    \"\",\n"
                                                       ">:  \"product\":   \"\",\n"
                                                       ">:  \"version\":   \"") +
                                               c.version +
                                               "\",\n"
                                               ">:  \"error\":     \"\",\n"
                                               ">:  \"numInputs\": 0,\n"
                                               ">:  \"numOutputs\":0,\n"
                                               ">:  \"wantsMidi\":  false,\n"
                                               ">:  \"sendsMidi\": false,\n"
                                               + PlatformLine() +
                                               ">:  \"audio64\":   false,\n"
                                               ">:  \"category\":  1,\n"
                                               ">:  \"synthEdit\": false,\n"
                                               ">:}\n"));
    }
}

TEST_F(ScanVersion, FileVersionWhenThePluginGivesNone)
{
    struct Case
    {
        const char* label;
        const wchar_t* variant;
        const char* vendorVersion;
        const char* version;
    } cases[] = {
        // Product version first, each word as an unsigned 16-bit number.
        {"ProductVersion", L"TestPluginVersionProduct", "0", "65535.2.40000.4"},
        {"FileVersion", L"TestPluginVersionFile", "0", "5.6.7.8"},
        {"NoVersionInTheRecord", L"TestPluginVersionZero", "0", ""},
        {"NoResource", L"TestPlugin", "0", ""},
        // The plugin's own number wins over the resource.
        {"PluginVersionWins", L"TestPluginVersionProduct", "1234", "1.2.3.4"},
        {"PluginVersionWinsOverFile", L"TestPluginVersionFile", "9", "9.0.0.0"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring dll = Plugin(c.label, std::string("vendorversion=") + c.vendorVersion + "\ncategory=1\n",
                                  c.variant);
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, PlainAnswer(dll, std::string(">:{\n"
                                                       ">:  \"id\":        \"00000000\",\n"
                                                       ">:  \"name\":      \"\",\n"
                                                       ">:  \"vendor\":    \"\",\n"
                                                       ">:  \"product\":   \"\",\n"
                                                       ">:  \"version\":   \"") +
                                               c.version +
                                               "\",\n"
                                               ">:  \"error\":     \"\",\n"
                                               ">:  \"numInputs\": 0,\n"
                                               ">:  \"numOutputs\":0,\n"
                                               ">:  \"wantsMidi\":  false,\n"
                                               ">:  \"sendsMidi\": false,\n"
                                               + PlatformLine() +
                                               ">:  \"audio64\":   false,\n"
                                               ">:  \"category\":  1,\n"
                                               ">:  \"synthEdit\": false,\n"
                                               ">:}\n"));
    }
}

} // namespace
