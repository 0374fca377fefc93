// Scanning ordinary plugins through the real server: the whole answer, byte
// for byte, for effects and synths, the category rules, the escaping of
// plugin texts in the report and the order in which the plugin is asked.
#include "scan_support.h"

namespace {

class ScanReport : public ScanTest
{
};

const char* const AskedInOrder = "entry\n"
                                 "disp 45\n"
                                 "disp 47\n"
                                 "disp 48\n"
                                 "disp 35\n"
                                 "disp 51 receiveVstMidiEvent\n"
                                 "disp 51 receiveVstEvents\n"
                                 "disp 51 sendVstMidiEvent\n"
                                 "disp 51 sendVstEvents\n"
                                 "disp 49\n"
                                 "disp 1\n"
                                 "detach\n";

TEST_F(ScanReport, StereoEffectIsReportedInFullAndAskedInOrder)
{
    std::wstring dll = Plugin("Effect", "name=Gain Stage\n"
                                        "vendor=Acme Audio\n"
                                        "product=Gain Suite\n"
                                        "id=0x47614E31\n"
                                        "inputs=2\n"
                                        "outputs=2\n"
                                        "flags=0x1010\n"
                                        "category=1\n"
                                        "vendorversion=1234\n");
    std::string answer = Scan(dll);

    Report r;
    r.id = 0x47614E31;
    r.name = "Gain Stage";
    r.vendor = "Acme Audio";
    r.product = "Gain Suite";
    r.version = "1.2.3.4";
    r.numInputs = 2;
    r.numOutputs = 2;
    r.audio64 = true;
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
    // effOpen is never sent; effClose once, last; the module is freed.
    EXPECT_EQ(Events(dll), "attach " + Handle(dll) + "\n" + AskedInOrder);
}

TEST_F(ScanReport, SynthWithMidiInput)
{
    std::wstring dll = Plugin("Synth", "name=Poly Keys\n"
                                       "vendor=Acme Audio\n"
                                       "product=Keys\n"
                                       "id=0x506B6579\n"
                                       "inputs=0\n"
                                       "outputs=2\n"
                                       "flags=0x100\n"
                                       "category=1\n"
                                       "vendorversion=2000\n"
                                       "cando.receiveVstMidiEvent=1\n");
    std::string answer = Scan(dll);

    Report r;
    r.id = 0x506B6579;
    r.name = "Poly Keys";
    r.vendor = "Acme Audio";
    r.product = "Keys";
    r.version = "2.0.0.0";
    r.numOutputs = 2;
    r.wantsMidi = true;
    r.category = 2; // the synth flag wins over the answer 1
    EXPECT_EQ(answer, PlainAnswer(dll, r));
}

TEST_F(ScanReport, CategoryRules)
{
    struct Case
    {
        const char* label;
        const char* config;
        int category;
        int inputs;
    } cases[] = {
        {"Unknown2In", "category=0\ninputs=2\n", 1, 2},
        {"Unknown0In", "category=0\ninputs=0\n", 2, 0},
        {"UnknownNegIn", "category=0\ninputs=-2\n", 1, -2},
        {"SynthFlagEffect", "category=1\nflags=0x100\ninputs=2\n", 2, 2},
        {"SynthFlagUnknown", "category=0\nflags=0x100\ninputs=2\n", 2, 2},
        {"Category5", "category=5\ninputs=2\n", 5, 2},
        {"Negative", "category=-7\ninputs=2\n", -7, 2},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring dll = Plugin(c.label, c.config);
        std::string answer = Scan(dll);
        Report r;
        r.category = c.category;
        r.numInputs = c.inputs;
        EXPECT_EQ(answer, PlainAnswer(dll, r));
    }
}

TEST_F(ScanReport, ShellCategoryWithSynthFlagIsASynthAndIsNotEnumerated)
{
    std::wstring dll = Plugin("SynthShell", "category=10\nflags=0x100\nshell=5 Five\n");
    std::string answer = Scan(dll);
    Report r;
    r.category = 2;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
    EXPECT_EQ(Events(dll).find("disp 70"), std::string::npos) << Events(dll);
}

TEST_F(ScanReport, IdAndCountsKeepTheirSign)
{
    std::wstring dll = Plugin("Signed", "id=-1\ninputs=-2\noutputs=-3\ncategory=1\n");
    std::string answer = Scan(dll);
    Report r;
    r.id = 0xFFFFFFFF;
    r.numInputs = -2;
    r.numOutputs = -3;
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
    EXPECT_NE(answer.find(">:  \"id\":        \"FFFFFFFF\",\n"), std::string::npos);
    EXPECT_NE(answer.find(">:  \"numInputs\": -2,\n"), std::string::npos);
}

TEST_F(ScanReport, TextsAreEscaped)
{
    std::wstring dll = Plugin("Escapes", "name=Q\"B\\\\S/\\b\\f\\n\\r\\t\\x01\\x0b\\x1f\\x7f\\x80\\xc3\\xa9\\xff!\n"
                                         "vendor=~ \\x1b[\n"
                                         "category=1\n");
    std::string answer = Scan(dll);
    const std::string nameLine =
        ">:  \"name\":      \"Q\\\"B\\\\S\\/\\b\\f\\n\\r\\t\\u0001\\u000b\\u001f\\u007f\\u0080\\u00c3\\u00a9\\u00ff!\",\n";
    EXPECT_NE(answer.find(nameLine), std::string::npos) << answer;
    EXPECT_NE(answer.find(">:  \"vendor\":    \"~ \\u001b[\",\n"), std::string::npos) << answer;

    Report r;
    r.name = "Q\"B\\S/\b\f\n\r\t\x01\x0b\x1f\x7f\x80\xc3\xa9\xff!";
    r.vendor = "~ \x1b[";
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
}

TEST_F(ScanReport, EveryByteIsWidenedOnItsOwn)
{
    // Vendor: every byte from 1 to 127; product: every byte from 128 to 255.
    std::string low, high, lowConfig, highConfig;
    for (int b = 1; b < 256; b++)
    {
        char escape[8];
        snprintf(escape, sizeof escape, "\\x%02x", b);
        (b < 128 ? low : high) += (char)b;
        (b < 128 ? lowConfig : highConfig) += escape;
    }
    std::wstring dll = Plugin("Bytes", "vendor=" + lowConfig + "\nproduct=" + highConfig + "\ncategory=1\n");
    std::string answer = Scan(dll);

    std::string highLine = ">:  \"product\":   \"";
    for (int b = 128; b < 256; b++)
    {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u00%02x", b);
        highLine += escape;
    }
    highLine += "\",\n";
    EXPECT_NE(answer.find(highLine), std::string::npos) << answer;

    Report r;
    r.vendor = low;
    r.product = high;
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
}

TEST_F(ScanReport, TextThatFillsTheWholeBufferStopsAtItsEnd)
{
    // 512 bytes and no NUL in each of the three text buffers.
    std::wstring dll = Plugin("Overflow", "overflow=45\noverflow=47\noverflow=48\ncategory=1\n");
    std::string answer = Scan(dll);
    std::string full;
    for (int k = 0; k < 512; k++)
        full += (char)('A' + k % 26);
    Report r;
    r.name = r.vendor = r.product = full;
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
}

TEST_F(ScanReport, PathWithNonAsciiCharactersIsLoggedAsUtf8)
{
    std::wstring sub = folder.Path() + L"Pl\u00fcg \u65e5\u672c";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    std::wstring dll = Plugin("Pl\xc3\xbcg \xe6\x97\xa5\xe6\x9c\xac\\Umlaut", "name=U\ncategory=1\n");
    std::string answer = Scan(dll);
    Report r;
    r.name = "U";
    r.category = 1;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
    EXPECT_NE(answer.find("Pl\xc3\xbcg \xe6\x97\xa5\xe6\x9c\xac\\Umlaut.dll'\n"), std::string::npos);
}

TEST_F(ScanReport, SynthEditResourceIsDetected)
{
    std::wstring dll = Plugin("SE", "name=Made With SE\ncategory=1\n", L"TestPluginSynthEdit");
    std::string answer = Scan(dll);
    Report r;
    r.name = "Made With SE";
    r.category = 1;
    r.synthEdit = true;
    EXPECT_EQ(answer, PlainAnswer(dll, r));
}

} // namespace
