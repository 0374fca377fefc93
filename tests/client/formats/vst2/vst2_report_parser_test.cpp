// The report block as the server prints it: a comma behind every member,
// the escapes of its texts, and blocks that are malformed in each way a
// broken or cut-off answer can be.
#include "formats/vst2/vst2_report_parser.h"
#include <gtest/gtest.h>

using orvanta::ParseVst2Report;
using orvanta::Vst2Report;

namespace {

// A block of the effect sample with the name member's quoted text as given.
std::string BlockWithName(const std::string& quotedName)
{
    return "{\n"
           "  \"id\":        \"536D4566\",\n"
           "  \"name\":      \"" + quotedName + "\",\n"
           "  \"vendor\":    \"Zandrel Software\",\n"
           "  \"product\":   \"Orvanta Samples\",\n"
           "  \"version\":   \"1.1.0.0\",\n"
           "  \"error\":     \"\",\n"
           "  \"numInputs\": 2,\n"
           "  \"numOutputs\":2,\n"
           "  \"wantsMidi\":  false,\n"
           "  \"sendsMidi\": false,\n"
           "  \"platform\":  \"x64\",\n"
           "  \"audio64\":   true,\n"
           "  \"category\":  1,\n"
           "  \"synthEdit\": false,\n"
           "}\n";
}

std::string NameOf(const std::string& quotedName)
{
    Vst2Report report;
    std::string error;
    EXPECT_TRUE(ParseVst2Report(BlockWithName(quotedName), &report, &error)) << error;
    return report.name;
}

std::string ErrorOf(const std::string& block)
{
    Vst2Report report;
    report.name = "untouched";
    std::string error;
    EXPECT_FALSE(ParseVst2Report(block, &report, &error));
    EXPECT_EQ(report.name, "untouched");
    return error;
}

const std::string FailedLoad =
    "{\n"
    "  \"id\":        \"00000000\",\n"
    "  \"name\":      \"\",\n"
    "  \"vendor\":    \"\",\n"
    "  \"product\":   \"\",\n"
    "  \"version\":   \"\",\n"
    "  \"error\":     \"Failed to load library, err=126\",\n"
    "  \"numInputs\": 0,\n"
    "  \"numOutputs\":0,\n"
    "  \"wantsMidi\":  false,\n"
    "  \"sendsMidi\": false,\n"
    "  \"platform\":  \"x64\",\n"
    "  \"audio64\":   false,\n"
    "  \"category\":  -1,\n"
    "  \"synthEdit\": false,\n"
    "}\n";

const std::string ShellBlock =
    "{\n"
    "  \"id\":        \"536D5368\",\n"
    "  \"name\":      \"Sample Shell\",\n"
    "  \"vendor\":    \"Zandrel Software\",\n"
    "  \"product\":   \"Orvanta Samples\",\n"
    "  \"version\":   \"1.0.0.0\",\n"
    "  \"error\":     \"\",\n"
    "  \"numInputs\": 0,\n"
    "  \"numOutputs\":0,\n"
    "  \"wantsMidi\":  true,\n"
    "  \"sendsMidi\": true,\n"
    "  \"platform\":  \"x64\",\n"
    "  \"audio64\":   false,\n"
    "  \"category\":  10,\n"
    "  \"synthEdit\": true,\n"
    "  \"shells\": {\n"
    "        \"53480001\": \"Sample Shell Chorus\",\n"
    "        \"ABCDEF01\": \"Sample Shell Delay\",\n"
    "  },\n"
    "}\n";

TEST(ReportParser, ReadsEveryMemberOfAnEffectWithTrailingCommas)
{
    Vst2Report r;
    std::string error;
    ASSERT_TRUE(ParseVst2Report(BlockWithName("Sample Effect"), &r, &error)) << error;
    EXPECT_EQ(r.id, 0x536D4566u);
    EXPECT_EQ(r.name, "Sample Effect");
    EXPECT_EQ(r.vendor, "Zandrel Software");
    EXPECT_EQ(r.product, "Orvanta Samples");
    EXPECT_EQ(r.version, "1.1.0.0");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.numInputs, 2);
    EXPECT_EQ(r.numOutputs, 2);
    EXPECT_FALSE(r.wantsMidi);
    EXPECT_FALSE(r.sendsMidi);
    EXPECT_EQ(r.platform, "x64");
    EXPECT_TRUE(r.audio64);
    EXPECT_EQ(r.category, 1);
    EXPECT_FALSE(r.synthEdit);
    EXPECT_TRUE(r.shells.empty());
}

TEST(ReportParser, ReadsAFailedLoadWithNegativeCategory)
{
    Vst2Report r;
    std::string error;
    ASSERT_TRUE(ParseVst2Report(FailedLoad, &r, &error)) << error;
    EXPECT_EQ(r.id, 0u);
    EXPECT_EQ(r.error, "Failed to load library, err=126");
    EXPECT_EQ(r.category, -1);
}

TEST(ReportParser, ReadsShellEntriesInReportOrder)
{
    Vst2Report r;
    std::string error;
    ASSERT_TRUE(ParseVst2Report(ShellBlock, &r, &error)) << error;
    ASSERT_EQ(r.shells.size(), 2u);
    EXPECT_EQ(r.shells[0].id, 0x53480001u);
    EXPECT_EQ(r.shells[0].name, "Sample Shell Chorus");
    EXPECT_EQ(r.shells[1].id, 0xABCDEF01u);
    EXPECT_EQ(r.shells[1].name, "Sample Shell Delay");
    EXPECT_TRUE(r.wantsMidi);
    EXPECT_TRUE(r.sendsMidi);
    EXPECT_TRUE(r.synthEdit);
    EXPECT_EQ(r.category, 10);
}

TEST(ReportParser, ReadsAnEmptyShellsObject)
{
    std::string block = BlockWithName("Empty Shell");
    block.replace(block.size() - 2, 2, "  \"shells\": {\n  },\n}\n");
    Vst2Report r;
    std::string error;
    ASSERT_TRUE(ParseVst2Report(block, &r, &error)) << error;
    EXPECT_TRUE(r.shells.empty());
}

TEST(ReportParser, IdFFFFFFFFIsTheHighestId)
{
    std::string block = BlockWithName("x");
    block.replace(block.find("536D4566"), 8, "FFFFFFFF");
    Vst2Report r;
    std::string error;
    ASSERT_TRUE(ParseVst2Report(block, &r, &error)) << error;
    EXPECT_EQ(r.id, 0xFFFFFFFFu);
}

TEST(ReportParser, UndoesQuoteBackslashAndSlash)
{
    EXPECT_EQ(NameOf("a\\\"b\\\\c\\/d"), "a\"b\\c/d");
}

TEST(ReportParser, UndoesControlEscapes)
{
    EXPECT_EQ(NameOf("\\b\\f\\n\\r\\t"), "\b\f\n\r\t");
}

TEST(ReportParser, UnicodeEscapeOfLowUnitsGivesThatByte)
{
    EXPECT_EQ(NameOf("\\u000b\\u001f\\u007f"), "\x0b\x1f\x7f");
}

TEST(ReportParser, UnitE9BecomesTheUtf8OfEAcute)
{
    EXPECT_EQ(NameOf("caf\\u00e9"), "caf\xC3\xA9");
}

TEST(ReportParser, EachWidenedByteBecomesItsOwnCodePoint)
{
    // The two bytes of a UTF-8 e-acute, widened one by one by the server,
    // come back as U+00C3 U+00A9.
    EXPECT_EQ(NameOf("\\u00c3\\u00a9"), "\xC3\x83\xC2\xA9");
}

TEST(ReportParser, UpperCaseHexDigitsInUnicodeEscape)
{
    EXPECT_EQ(NameOf("\\u00FF"), "\xC3\xBF");
}

TEST(ReportParser, SurrogatePairBecomesOneFourByteCharacter)
{
    EXPECT_EQ(NameOf("\\ud83d\\ude00"), "\xF0\x9F\x98\x80");
}

TEST(ReportParser, LoneSurrogateBecomesReplacementCharacter)
{
    EXPECT_EQ(NameOf("a\\ud83db"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(NameOf("\\ude00"), "\xEF\xBF\xBD");
    EXPECT_EQ(NameOf("\\ud83d\\u0041"), "\xEF\xBF\xBD" "A");
}

TEST(ReportParser, RejectsTextOpenToTheNextLine)
{
    // The line feed that ends the line stands inside the text.
    EXPECT_EQ(ErrorOf("{\n  \"id\":        \"536D4566\",\n  \"name\":      \"Sample,\n}\n"),
              "malformed report: control character in a text at line 3, column 24");
}

TEST(ReportParser, RejectsTextCutOffAtTheEnd)
{
    EXPECT_EQ(ErrorOf("{\n  \"id\":        \"536D4566\",\n  \"name\":      \"Samp"),
              "malformed report: unterminated text at line 3, column 21");
}

TEST(ReportParser, RejectsMissingClosingBrace)
{
    std::string block = BlockWithName("x");
    block.resize(block.size() - 2);
    EXPECT_EQ(ErrorOf(block), "malformed report: missing closing brace at line 16, column 1");
}

TEST(ReportParser, RejectsUnknownEscape)
{
    EXPECT_EQ(ErrorOf(BlockWithName("a\\qb")),
              "malformed report: unknown escape \\q at line 3, column 18");
}

TEST(ReportParser, RejectsShortUnicodeEscape)
{
    EXPECT_EQ(ErrorOf(BlockWithName("\\u12\"")),
              "malformed report: \\u needs four hexadecimal digits at line 3, column 21");
}

TEST(ReportParser, RejectsRawControlCharacterInText)
{
    EXPECT_EQ(ErrorOf(BlockWithName("a\tb")),
              "malformed report: control character in a text at line 3, column 18");
}

TEST(ReportParser, RejectsMissingColon)
{
    EXPECT_EQ(ErrorOf("{\n  \"id\"        \"536D4566\",\n}\n"),
              "malformed report: expected ':' at line 2, column 15");
}

TEST(ReportParser, RejectsTwoMembersWithoutComma)
{
    EXPECT_EQ(ErrorOf("{\n  \"id\": \"536D4566\"\n  \"name\": \"x\",\n}\n"),
              "malformed report: expected ',' or '}' at line 3, column 3");
}

TEST(ReportParser, RejectsTextAfterTheBlock)
{
    EXPECT_EQ(ErrorOf(BlockWithName("x") + "{\n"),
              "malformed report: text after the closing brace at line 17, column 1");
}

TEST(ReportParser, RejectsBlockNotStartingWithBrace)
{
    EXPECT_EQ(ErrorOf("info:Finished\n"),
              "malformed report: expected '{' to open the report at line 1, column 1");
}

TEST(ReportParser, RejectsEmptyBlock)
{
    EXPECT_EQ(ErrorOf(""), "malformed report: expected '{' to open the report at line 1, column 1");
}

TEST(ReportParser, RejectsBareWordValue)
{
    std::string block = BlockWithName("x");
    block.replace(block.find("2,\n  \"numOutputs\""), 1, "two");
    EXPECT_EQ(ErrorOf(block), "malformed report: expected a value at line 8, column 16");
}

TEST(ReportParser, RejectsMissingMember)
{
    std::string block = BlockWithName("x");
    size_t at = block.find("  \"vendor\"");
    block.erase(at, block.find('\n', at) + 1 - at);
    EXPECT_EQ(ErrorOf(block), "malformed report: member \"vendor\" missing");
}

TEST(ReportParser, RejectsMemberOfTheWrongType)
{
    std::string block = BlockWithName("x");
    block.replace(block.find("false,\n  \"sendsMidi\""), 5, "\"no\"");
    EXPECT_EQ(ErrorOf(block), "malformed report: member \"wantsMidi\" has the wrong type");
}

TEST(ReportParser, RejectsIdThatIsNotEightHexDigits)
{
    std::string block = BlockWithName("x");
    block.replace(block.find("536D4566"), 8, "536D456G");
    EXPECT_EQ(ErrorOf(block), "malformed report: member \"id\" is not 8 hexadecimal digits");
}

TEST(ReportParser, RejectsShellKeyThatIsNotEightHexDigits)
{
    std::string block = ShellBlock;
    block.replace(block.find("ABCDEF01"), 8, "ABCDEF");
    EXPECT_EQ(ErrorOf(block),
              "malformed report: sub-plugin ID \"ABCDEF\" is not 8 hexadecimal digits");
}

TEST(ReportParser, RejectsMemberGivenTwice)
{
    std::string block = BlockWithName("x");
    block.replace(block.size() - 2, 2, "  \"name\":      \"y\",\n}\n");
    EXPECT_EQ(ErrorOf(block), "malformed report: member \"name\" twice at line 16, column 3");
}

TEST(ReportParser, RejectsNumberOutOfRange)
{
    std::string block = BlockWithName("x");
    block.replace(block.find("1,\n  \"synthEdit\""), 1, "4294967296");
    EXPECT_EQ(ErrorOf(block), "malformed report: number out of range at line 14, column 16");
}

} // namespace

TEST(StatusNames, RoundTripEveryStatus)
{
    using orvanta::Status;
    const char* names[] = {"ok", "failed", "crashed", "timeout", "lost"};
    Status all[] = {Status::ok, Status::failed, Status::crashed, Status::timeout, Status::lost};
    for (int i = 0; i < 5; i++)
    {
        EXPECT_STREQ(orvanta::StatusName(all[i]), names[i]);
        Status back = Status::ok;
        EXPECT_TRUE(orvanta::ParseStatus(names[i], &back));
        EXPECT_EQ(back, all[i]);
    }
    Status untouched = Status::timeout;
    EXPECT_FALSE(orvanta::ParseStatus("OK", &untouched));
    EXPECT_FALSE(orvanta::ParseStatus("", &untouched));
    EXPECT_EQ(untouched, Status::timeout);
}
