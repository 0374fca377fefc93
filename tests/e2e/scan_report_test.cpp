// Scanning ordinary plugins through the real server: the whole answer, byte
// for byte, for effects and synths, the category rules, the escaping of
// plugin texts in the report and the order in which the plugin is asked.
#include "scan_support.h"

using namespace testsupport;

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

    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"47614E31\",\n"
                                       ">:  \"name\":      \"Gain Stage\",\n"
                                       ">:  \"vendor\":    \"Acme Audio\",\n"
                                       ">:  \"product\":   \"Gain Suite\",\n"
                                       ">:  \"version\":   \"1.2.3.4\",\n"
                                       ">:  \"error\":     \"\",\n"
                                       ">:  \"numInputs\": 2,\n"
                                       ">:  \"numOutputs\":2,\n"
                                       ">:  \"wantsMidi\":  false,\n"
                                       ">:  \"sendsMidi\": false,\n"
                                       + PlatformLine() +
                                       ">:  \"audio64\":   true,\n"
                                       ">:  \"category\":  1,\n"
                                       ">:  \"synthEdit\": false,\n"
                                       ">:}\n"));
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

    // The synth flag wins over the category answer 1.
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"506B6579\",\n"
                                       ">:  \"name\":      \"Poly Keys\",\n"
                                       ">:  \"vendor\":    \"Acme Audio\",\n"
                                       ">:  \"product\":   \"Keys\",\n"
                                       ">:  \"version\":   \"2.0.0.0\",\n"
                                       ">:  \"error\":     \"\",\n"
                                       ">:  \"numInputs\": 0,\n"
                                       ">:  \"numOutputs\":2,\n"
                                       ">:  \"wantsMidi\":  true,\n"
                                       ">:  \"sendsMidi\": false,\n"
                                       + PlatformLine() +
                                       ">:  \"audio64\":   false,\n"
                                       ">:  \"category\":  2,\n"
                                       ">:  \"synthEdit\": false,\n"
                                       ">:}\n"));
}

TEST_F(ScanReport, CategoryRules)
{
    struct Case
    {
        const char* label;
        const char* config;
        const char* inputsLine;
        const char* categoryLine;
    } cases[] = {
        {"Unknown2In", "category=0\ninputs=2\n", ">:  \"numInputs\": 2,\n", ">:  \"category\":  1,\n"},
        {"Unknown0In", "category=0\ninputs=0\n", ">:  \"numInputs\": 0,\n", ">:  \"category\":  2,\n"},
        {"UnknownNegIn", "category=0\ninputs=-2\n", ">:  \"numInputs\": -2,\n", ">:  \"category\":  1,\n"},
        {"SynthFlagEffect", "category=1\nflags=0x100\ninputs=2\n", ">:  \"numInputs\": 2,\n",
         ">:  \"category\":  2,\n"},
        {"SynthFlagUnknown", "category=0\nflags=0x100\ninputs=2\n", ">:  \"numInputs\": 2,\n",
         ">:  \"category\":  2,\n"},
        {"Category5", "category=5\ninputs=2\n", ">:  \"numInputs\": 2,\n", ">:  \"category\":  5,\n"},
        {"Negative", "category=-7\ninputs=2\n", ">:  \"numInputs\": 2,\n", ">:  \"category\":  -7,\n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring dll = Plugin(c.label, c.config);
        std::string answer = Scan(dll);
        EXPECT_EQ(answer, PlainAnswer(dll, std::string(">:{\n"
                                                       ">:  \"id\":        \"00000000\",\n"
                                                       ">:  \"name\":      \"\",\n"
                                                       ">:  \"vendor\":    \"\",\n"
                                                       ">:  \"product\":   \"\",\n"
                                                       ">:  \"version\":   \"\",\n"
                                                       ">:  \"error\":     \"\",\n") +
                                               c.inputsLine +
                                               ">:  \"numOutputs\":0,\n"
                                               ">:  \"wantsMidi\":  false,\n"
                                               ">:  \"sendsMidi\": false,\n"
                                               + PlatformLine() +
                                               ">:  \"audio64\":   false,\n" +
                                               c.categoryLine +
                                               ">:  \"synthEdit\": false,\n"
                                               ">:}\n"));
    }
}

TEST_F(ScanReport, ShellCategoryWithSynthFlagIsASynthAndIsNotEnumerated)
{
    std::wstring dll = Plugin("SynthShell", "category=10\nflags=0x100\nshell=5 Five\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       ">:  \"name\":      \"\",\n"
                                       ">:  \"vendor\":    \"\",\n"
                                       ">:  \"product\":   \"\",\n"
                                       ">:  \"version\":   \"\",\n"
                                       ">:  \"error\":     \"\",\n"
                                       ">:  \"numInputs\": 0,\n"
                                       ">:  \"numOutputs\":0,\n"
                                       ">:  \"wantsMidi\":  false,\n"
                                       ">:  \"sendsMidi\": false,\n"
                                       + PlatformLine() +
                                       ">:  \"audio64\":   false,\n"
                                       ">:  \"category\":  2,\n"
                                       ">:  \"synthEdit\": false,\n"
                                       ">:}\n"));
    EXPECT_EQ(Events(dll).find("disp 70"), std::string::npos) << Events(dll);
}

TEST_F(ScanReport, IdAndCountsKeepTheirSign)
{
    std::wstring dll = Plugin("Signed", "id=-1\ninputs=-2\noutputs=-3\ncategory=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"FFFFFFFF\",\n"
                                       ">:  \"name\":      \"\",\n"
                                       ">:  \"vendor\":    \"\",\n"
                                       ">:  \"product\":   \"\",\n"
                                       ">:  \"version\":   \"\",\n"
                                       ">:  \"error\":     \"\",\n"
                                       ">:  \"numInputs\": -2,\n"
                                       ">:  \"numOutputs\":-3,\n"
                                       ">:  \"wantsMidi\":  false,\n"
                                       ">:  \"sendsMidi\": false,\n"
                                       + PlatformLine() +
                                       ">:  \"audio64\":   false,\n"
                                       ">:  \"category\":  1,\n"
                                       ">:  \"synthEdit\": false,\n"
                                       ">:}\n"));
}

TEST_F(ScanReport, TextsAreEscaped)
{
    std::wstring dll = Plugin("Escapes", "name=Q\"B\\\\S/\\b\\f\\n\\r\\t\\x01\\x0b\\x1f\\x7f\\x80\\xc3\\xa9\\xff!\n"
                                         "vendor=~ \\x1b[\n"
                                         "category=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       R"(>:  "name":      "Q\"B\\S\/\b\f\n\r\t\u0001\u000b\u001f\u007f\u0080\u00c3\u00a9\u00ff!",)" "\n"
                                       R"(>:  "vendor":    "~ \u001b[",)" "\n"
                                       ">:  \"product\":   \"\",\n"
                                       ">:  \"version\":   \"\",\n"
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

TEST_F(ScanReport, EveryByteIsWidenedOnItsOwn)
{
    // Vendor: every byte from 1 to 127; product: every byte from 128 to 255.
    std::string lowConfig, highConfig;
    for (int b = 1; b < 256; b++)
    {
        char escape[8];
        snprintf(escape, sizeof escape, "\\x%02x", b);
        (b < 128 ? lowConfig : highConfig) += escape;
    }
    std::wstring dll = Plugin("Bytes", "vendor=" + lowConfig + "\nproduct=" + highConfig + "\ncategory=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer,
              PlainAnswer(dll, ">:{\n"
                               ">:  \"id\":        \"00000000\",\n"
                               ">:  \"name\":      \"\",\n"
                               R"(>:  "vendor":    ")"
                               R"(\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
                               R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017)"
                               R"(\u0018\u0019\u001a\u001b\u001c\u001d\u001e\u001f)"
                               R"( !\"#$%&'()*+,-.\/0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`)"
                               R"(abcdefghijklmnopqrstuvwxyz{|}~\u007f",)" "\n"
                               R"(>:  "product":   ")"
                               R"(\u0080\u0081\u0082\u0083\u0084\u0085\u0086\u0087\u0088\u0089\u008a\u008b\u008c\u008d\u008e\u008f)"
                               R"(\u0090\u0091\u0092\u0093\u0094\u0095\u0096\u0097\u0098\u0099\u009a\u009b\u009c\u009d\u009e\u009f)"
                               R"(\u00a0\u00a1\u00a2\u00a3\u00a4\u00a5\u00a6\u00a7\u00a8\u00a9\u00aa\u00ab\u00ac\u00ad\u00ae\u00af)"
                               R"(\u00b0\u00b1\u00b2\u00b3\u00b4\u00b5\u00b6\u00b7\u00b8\u00b9\u00ba\u00bb\u00bc\u00bd\u00be\u00bf)"
                               R"(\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6\u00c7\u00c8\u00c9\u00ca\u00cb\u00cc\u00cd\u00ce\u00cf)"
                               R"(\u00d0\u00d1\u00d2\u00d3\u00d4\u00d5\u00d6\u00d7\u00d8\u00d9\u00da\u00db\u00dc\u00dd\u00de\u00df)"
                               R"(\u00e0\u00e1\u00e2\u00e3\u00e4\u00e5\u00e6\u00e7\u00e8\u00e9\u00ea\u00eb\u00ec\u00ed\u00ee\u00ef)"
                               R"(\u00f0\u00f1\u00f2\u00f3\u00f4\u00f5\u00f6\u00f7\u00f8\u00f9\u00fa\u00fb\u00fc\u00fd\u00fe\u00ff",)" "\n"
                               ">:  \"version\":   \"\",\n"
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

TEST_F(ScanReport, TextThatFillsTheWholeBufferStopsAtItsEnd)
{
    // 512 bytes and no NUL in each of the three text buffers.
    std::wstring dll = Plugin("Overflow", "overflow=45\noverflow=47\noverflow=48\ncategory=1\n");
    std::string answer = Scan(dll);
    std::string full;
    for (int k = 0; k < 512; k++)
        full += (char)('A' + k % 26);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       ">:  \"name\":      \"" + full + "\",\n"
                                       ">:  \"vendor\":    \"" + full + "\",\n"
                                       ">:  \"product\":   \"" + full + "\",\n"
                                       ">:  \"version\":   \"\",\n"
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

TEST_F(ScanReport, PathWithNonAsciiCharactersIsLoggedAsUtf8)
{
    std::wstring sub = folder / L"Pl\u00fcg \u65e5\u672c";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    std::wstring dll = Plugin("Pl\xc3\xbcg \xe6\x97\xa5\xe6\x9c\xac\\Umlaut", "name=U\ncategory=1\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       ">:  \"name\":      \"U\",\n"
                                       ">:  \"vendor\":    \"\",\n"
                                       ">:  \"product\":   \"\",\n"
                                       ">:  \"version\":   \"\",\n"
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
    EXPECT_NE(answer.find("Pl\xc3\xbcg \xe6\x97\xa5\xe6\x9c\xac\\Umlaut.dll'\n"), std::string::npos);
}

TEST_F(ScanReport, SynthEditResourceIsDetected)
{
    std::wstring dll = Plugin("SE", "name=Made With SE\ncategory=1\n", L"TestPluginSynthEdit");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       ">:  \"name\":      \"Made With SE\",\n"
                                       ">:  \"vendor\":    \"\",\n"
                                       ">:  \"product\":   \"\",\n"
                                       ">:  \"version\":   \"\",\n"
                                       ">:  \"error\":     \"\",\n"
                                       ">:  \"numInputs\": 0,\n"
                                       ">:  \"numOutputs\":0,\n"
                                       ">:  \"wantsMidi\":  false,\n"
                                       ">:  \"sendsMidi\": false,\n"
                                       + PlatformLine() +
                                       ">:  \"audio64\":   false,\n"
                                       ">:  \"category\":  1,\n"
                                       ">:  \"synthEdit\": true,\n"
                                       ">:}\n"));
}

} // namespace
