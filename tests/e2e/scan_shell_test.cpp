// Shell modules: listing the sub-plugins (duplicates, many, none, names
// that carry line feeds or fill the buffer, plugins that never stop), and
// scanning each sub-plugin by ID against the one cached module.
#include "scan_support.h"

using namespace testsupport;

namespace {

class ScanShell : public ScanTest
{
};

std::string FoundShell(uint32_t id, const std::string& name)
{
    return Info("Found shell: " + Hex8(id) + " - " + name);
}

const std::string Duplicate = Info("   - duplicate, ignoring");

TEST_F(ScanShell, RepeatedIdIsListedOnceUnderItsFirstName)
{
    std::wstring dll = Plugin("Shell", "name=Bundle\ncategory=10\nshell=5 Five\nshell=7 Seven\nshell=5 Again\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + FoundShell(5, "Five") +
                          FoundShell(7, "Seven") + FoundShell(5, "Again") + Duplicate + CloseAndKeepLines() +
                          ">:{\n"
                          ">:  \"id\":        \"00000000\",\n"
                          ">:  \"name\":      \"Bundle\",\n"
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
                          ">:        \"00000005\": \"Five\",\n"
                          ">:        \"00000007\": \"Seven\",\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);

    // Listing stops at the first 0; the module stays loaded until the end.
    std::string events = Events(dll);
    EXPECT_NE(events.find("disp 49\ndisp 70\ndisp 70\ndisp 70\ndisp 70\ndisp 1\n"), std::string::npos) << events;
    EXPECT_EQ(events.find("detach"), std::string::npos) << events;
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), CachedFlush);
    EXPECT_EQ(server.WaitExit(), 0u);
    EXPECT_EQ(Events(dll).substr(events.size()), "detach\n");
}

TEST_F(ScanShell, SeventeenAndMoreSubPluginsKeepTheirOrder)
{
    std::string config = "category=10\n";
    std::string found, listed;
    for (int i = 1; i <= 20; i++)
    {
        uint32_t id = 0x1000 + i;
        std::string name = "Sub " + std::to_string(i);
        config += "shell=" + std::to_string(id) + " " + name + "\n";
        found += FoundShell(id, name);
        listed += ">:        \"" + Hex8(id) + "\": \"" + name + "\",\n";
    }
    // IDs with the top bit set print as their two's complement.
    config += "shell=0x80000000 Lowest\nshell=-2 MinusTwo\n";
    found += FoundShell(0x80000000u, "Lowest") + FoundShell(0xFFFFFFFEu, "MinusTwo");
    listed += ">:        \"80000000\": \"Lowest\",\n"
              ">:        \"FFFFFFFE\": \"MinusTwo\",\n";

    std::wstring dll = Plugin("Many", config);
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + found + CloseAndKeepLines() +
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
                          ">:  \"shells\": {\n" +
                          listed +
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
}

TEST_F(ScanShell, ShellThatListsNothingIsFreed)
{
    std::wstring dll = Plugin("Empty", "name=Empty Shell\ncategory=10\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, PlainAnswer(dll, ">:{\n"
                                       ">:  \"id\":        \"00000000\",\n"
                                       ">:  \"name\":      \"Empty Shell\",\n"
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
                                       ">:  },\n"
                                       ">:}\n"));
    EXPECT_NE(Events(dll).find("disp 70\ndisp 1\ndetach\n"), std::string::npos);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

// The log line escapes only line breaks; the report escapes as JSON does.
TEST_F(ScanShell, SubPluginNamesAreEscapedForTheLogLineAndForTheReport)
{
    std::wstring dll = Plugin("Names", "category=10\nshell=1 Line1\\nLine2\nshell=2 a\"b\\\\c/d\\te\n");
    std::string answer = Scan(dll);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Found shell: 00000001 - Line1\\nLine2\n" +
                          "info:Found shell: 00000002 - a\"b\\c/d\te\n" + CloseAndKeepLines() +
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
                          ">:        \"00000001\": \"Line1\\nLine2\",\n"
                          ">:        \"00000002\": \"a\\\"b\\\\c\\/d\\te\",\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
}

TEST_F(ScanShell, SubPluginNameThatFillsTheBuffer)
{
    std::wstring dll = Plugin("Long", "category=10\nshell=1 x\nshell=2 y\noverflow=70\n");
    std::string answer = Scan(dll);
    std::string full;
    for (int k = 0; k < 512; k++)
        full += (char)('A' + k % 26);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + FoundShell(1, full) +
                          FoundShell(2, full) + CloseAndKeepLines() + ">:{\n"
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
                          ">:        \"00000001\": \"" + full + "\",\n"
                          ">:        \"00000002\": \"" + full + "\",\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
}

// A plugin that never answers 0 is stopped by the server's own bounds:
// after 100 repeated IDs in a row, or after 4096 queries. The stop writes no
// line of its own; the report lists what was found and the next request is
// answered as usual.
TEST_F(ScanShell, EndlessRepeatOfOneIdStopsAfterOneHundredRepeatsInARow)
{
    std::wstring dll = Plugin("Endless", "category=10\nshell=3 Three\nshellendless=9 Nine\n");
    bool ready = false;
    server.Write(Utf8(dll) + "\n");
    std::string answer = server.ReadUntilReady(90000, &ready);
    ASSERT_TRUE(ready) << answer.substr(0, 2000);

    std::string repeats;
    for (int i = 0; i < 100; i++)
        repeats += "info:Found shell: 00000009 - Nine\ninfo:   - duplicate, ignoring\n";
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) +
                          "info:Found shell: 00000003 - Three\n"
                          "info:Found shell: 00000009 - Nine\n" +
                          repeats + CloseAndKeepLines() +
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
                          ">:        \"00000003\": \"Three\",\n"
                          ">:        \"00000009\": \"Nine\",\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
    // The first query, the second and then the hundred repeats.
    EXPECT_EQ(CountOf(Events(dll), "disp 70\n"), 102);

    std::wstring next = Plugin("After", "name=Next\ncategory=1\n");
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

// Sixty repeats, a new ID, then endless repeats: the count starts again at
// the new ID, so a hundred more repeats come before the stop.
TEST_F(ScanShell, NewIdStartsTheRepeatCountAgain)
{
    std::string config = "category=10\nshell=9 Nine\n";
    std::string lines = "info:Found shell: 00000009 - Nine\n";
    const std::string repeat = "info:Found shell: 00000009 - Nine\ninfo:   - duplicate, ignoring\n";
    for (int i = 0; i < 60; i++)
    {
        config += "shell=9 Nine\n";
        lines += repeat;
    }
    config += "shell=10 Ten\nshellendless=9 Nine\n";
    lines += "info:Found shell: 0000000A - Ten\n";
    for (int i = 0; i < 100; i++)
        lines += repeat;
    std::wstring dll = Plugin("Reset", config);
    bool ready = false;
    server.Write(Utf8(dll) + "\n");
    std::string answer = server.ReadUntilReady(90000, &ready);
    ASSERT_TRUE(ready) << answer.substr(0, 2000);
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + lines + CloseAndKeepLines() +
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
                          ">:        \"00000009\": \"Nine\",\n"
                          ">:        \"0000000A\": \"Ten\",\n"
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
}

TEST_F(ScanShell, EndlessStreamOfNewIdsStopsAfter4096Queries)
{
    std::wstring dll = Plugin("Counting", "category=10\nshellcounting=1\n");
    bool ready = false;
    server.Write(Utf8(dll) + "\n");
    std::string answer = server.ReadUntilReady(180000, &ready);
    ASSERT_TRUE(ready) << answer.substr(0, 2000);

    // 1, 2, 3, ... 4096 in order, each logged once and listed once.
    std::string found, listed;
    for (uint32_t id = 1; id <= 4096; id++)
    {
        std::string name = "Counting " + std::to_string(id);
        found += FoundShell(id, name);
        listed += ">:        \"" + Hex8(id) + "\": \"" + name + "\",\n";
    }
    EXPECT_EQ(answer, LoadLines(Utf8(dll)) + EntryLines(Handle(dll)) + found + CloseAndKeepLines() +
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
                          ">:  \"shells\": {\n" +
                          listed +
                          ">:  },\n"
                          ">:}\n" +
                          Ready);
    EXPECT_TRUE(EndsWith(answer, ">:        \"00001000\": \"Counting 4096\",\n>:  },\n>:}\nready:\n"));
    EXPECT_EQ(CountOf(Events(dll), "disp 70\n"), 4096);
}

TEST_F(ScanShell, SubPluginsAreBuiltFromTheCurrentIdOfEachRequest)
{
    std::wstring dll = Plugin("ById", "name=Bundle\ncategory=10\nshellbyid=1\nshell=0x1A2B Alpha\nshell=0x20 Beta\n");
    const std::string currentId = CallbackLine(2, "audioMasterCurrentId");
    std::string path = Utf8(dll);

    std::string answer = Scan(dll);
    std::string handle = Handle(dll);
    const std::string shellBlock =
        ">:{\n"
        ">:  \"id\":        \"00000000\",\n"
        ">:  \"name\":      \"Bundle\",\n"
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
        ">:        \"00001A2B\": \"Alpha\",\n"
        ">:        \"00000020\": \"Beta\",\n"
        ">:  },\n"
        ">:}\n";
    EXPECT_EQ(answer, LoadLines(path) + EntryLines(handle) + currentId + FoundShell(0x1A2B, "Alpha") +
                          FoundShell(0x20, "Beta") + CloseAndKeepLines() + shellBlock + Ready);

    struct Sub
    {
        std::string suffix;
        std::string id;
        std::string name;
    } subs[] = {
        {">1a2B", "00001A2B", "Alpha"},
        {">20", "00000020", "Beta"},
        // Answered as -1 across the whole pointer-sized result.
        {">FFFFFFFF", "FFFFFFFF", "CurrentId -1"},
        {">123456789", "23456789", "CurrentId 591751049"},
        {">7fffffff", "7FFFFFFF", "CurrentId 2147483647"},
    };
    for (const Sub& sub : subs)
    {
        SCOPED_TRACE(sub.suffix);
        std::string subAnswer = Scan(path + sub.suffix);
        EXPECT_EQ(subAnswer, ReuseLines(path + sub.suffix) + EntryLines(handle) + currentId +
                                 CloseAndKeepLines() + ">:{\n"
                                 ">:  \"id\":        \"" + sub.id + "\",\n"
                                 ">:  \"name\":      \"" + sub.name + "\",\n"
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
    }

    // The shell again, without an ID: the same module, listed again.
    std::string again = Scan(dll);
    EXPECT_EQ(again, ReuseLines(path) + EntryLines(handle) + currentId + FoundShell(0x1A2B, "Alpha") +
                         FoundShell(0x20, "Beta") + CloseAndKeepLines() + shellBlock + Ready);

    EXPECT_EQ(AttachHandles(dll).size(), 1u);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), CachedFlush);
    EXPECT_EQ(server.WaitExit(), 0u);
    std::string events = Events(dll);
    EXPECT_TRUE(EndsWith(events, "\ndetach\n")) << events;
}

} // namespace
