// Plugin texts that hold line breaks, in the two log lines that carry them:
// a sub-plugin name in "Found shell: ..." and a capability text in
// "Query host can do: '...'". Each line feed and carriage return arrives as
// the two characters \n or \r, so a plugin can never make the host read a
// "ready:" line or a report block the server did not write.
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanPluginText : public ScanTest
{
};

TEST_F(ScanPluginText, LineBreaksInSubPluginNamesAreEscapedInTheFoundShellLine)
{
    std::wstring dll = Plugin("Breaks", "category=10\n"
                                        "shell=1 A\\nB\n"
                                        "shell=2 A\\rB\n"
                                        "shell=3 A\\r\\nB\n"
                                        "shell=4 \\nready:\\n\n"
                                        "shell=5 Sub\\n>:{\\n>:  \\\"id\\\": \\\"0BADF00D\\\",\\n>:}\\n\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          R"(info:Found shell: 00000001 - A\nB)" "\n"
                          R"(info:Found shell: 00000002 - A\rB)" "\n"
                          R"(info:Found shell: 00000003 - A\r\nB)" "\n"
                          R"(info:Found shell: 00000004 - \nready:\n)" "\n"
                          R"(info:Found shell: 00000005 - Sub\n>:{\n>:  "id": "0BADF00D",\n>:}\n)" "\n" +
                          CloseAndKeepLines() +
                          ">:{\n"
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
                          ">:  \"category\":  10,\n"
                          ">:  \"synthEdit\": false,\n"
                          ">:  \"shells\": {\n"
                          R"(>:        "00000001": "A\nB",)" "\n"
                          R"(>:        "00000002": "A\rB",)" "\n"
                          R"(>:        "00000003": "A\r\nB",)" "\n"
                          R"(>:        "00000004": "\nready:\n",)" "\n"
                          R"(>:        "00000005": "Sub\n>:{\n>:  \"id\": \"0BADF00D\",\n>:}\n",)" "\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
    EXPECT_EQ(CountOf(answer, "\nready:\n"), 1) << answer;
    EXPECT_EQ(CountOf(answer, "\n>:{\n"), 1) << answer;

    // The exchange is still in step: the next plugin's answer is its own.
    std::wstring next = Plugin("Next", "name=Next\ncategory=1\n");
    std::string nextAnswer = Scan(next);
    EXPECT_EQ(nextAnswer, PlainAnswerAfterFlush(next, ">:{\n"
                                                      ">:  \"id\":        \"00000000\",\n"
                                                      ">:  \"name\":      \"Next\",\n"
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
}

// The plugin appends each answer to its name: " ?TEXT=ANSWER".
TEST_F(ScanPluginText, LineBreaksInCapabilityTextsAreEscapedInTheQueryLine)
{
    std::wstring dll = Plugin("AskBreaks", "name=Q\n"
                                           "category=1\n"
                                           "hostcando=A\\nB\n"
                                           "hostcando=A\\rB\n"
                                           "hostcando=A\\r\\nB\n"
                                           "hostcando=\\nready:\\n\n"
                                           "hostcando=sendVstEvents\\n\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          R"(info:Query host can do: 'A\nB')" "\n"
                          R"(info:Query host can do: 'A\rB')" "\n"
                          R"(info:Query host can do: 'A\r\nB')" "\n"
                          R"(info:Query host can do: '\nready:\n')" "\n"
                          R"(info:Query host can do: 'sendVstEvents\n')" "\n" +
                          CloseAndFreeLines() +
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          R"(>:  "name":      "Q ?A\nB=0 ?A\rB=0 ?A\r\nB=0 ?\nready:\n=0 ?sendVstEvents\n=0",)" "\n"
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
                          ">:}\n" +
                          Ready);
    EXPECT_EQ(CountOf(answer, "\nready:\n"), 1) << answer;
}

} // namespace
