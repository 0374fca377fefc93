// The process spine through the real server and real pipes: banner,
// framing of request lines, the two loops and shut-down.
#include "scan_support.h"

using namespace testsupport;

namespace {

// The request as the scanner received it, from its first log line.
std::string ScannedAs(const std::string& answer)
{
    const std::string head = "info:Scanning plugin: '";
    size_t at = answer.find(head);
    if (at == std::string::npos)
        return "<no scan line>";
    size_t end = answer.find("'\n", at + head.size());
    return answer.substr(at + head.size(), end - at - head.size());
}

struct Served : ::testing::Test
{
    ServerProcess server;
    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS();
        ASSERT_TRUE(server.Start());
        ASSERT_EQ(server.ReadUntilReady(), Banner + Ready);
    }
    // One write of raw bytes, then the answer up to the next "ready:\n".
    std::string Send(const std::string& bytes)
    {
        EXPECT_TRUE(server.Write(bytes));
        bool ready = false;
        std::string answer = server.ReadUntilReady(30000, &ready);
        EXPECT_TRUE(ready) << answer;
        return answer;
    }
    void ExpectCleanEnd()
    {
        server.CloseInput();
        EXPECT_EQ(server.ReadToEnd(), "");
        EXPECT_EQ(server.WaitExit(), 0u);
    }
};

TEST_F(Served, LineEnds)
{
    EXPECT_EQ(ScannedAs(Send("C:\\P\\a.dll\n")), "C:\\P\\a.dll");
    EXPECT_EQ(ScannedAs(Send("C:\\P\\a.dll\r\n")), "C:\\P\\a.dll\r");
    EXPECT_EQ(ScannedAs(Send("abc\0def\n")), "abc");
    ExpectCleanEnd();
}

TEST_F(Served, LoneLineFeedIsAnEmptyRequest)
{
    std::string answer = Send("\n");
    EXPECT_EQ(ScannedAs(answer), "");
    EXPECT_NE(answer.find("info:Loading library...\nerror:Failed to load library, err="),
              std::string::npos);
    EXPECT_EQ(ScannedAs(Send("next\n")), "next");
    ExpectCleanEnd();
}

TEST_F(Served, SecondLineOfOneReadIsLost)
{
    EXPECT_EQ(ScannedAs(Send(std::string("first.dll\nsecond.dll\n"))), "first.dll");
    std::string next = Send("third.dll\n");
    EXPECT_EQ(ScannedAs(next), "third.dll");
    EXPECT_EQ(next.find("second"), std::string::npos);
    ExpectCleanEnd();
}

TEST_F(Served, ExactlyOneFullBufferWithoutLineFeed)
{
    std::string path(1023, 'a');
    EXPECT_EQ(ScannedAs(Send(path)), path);
    EXPECT_EQ(ScannedAs(Send("after\n")), "after");
    ExpectCleanEnd();
}

// A line longer than one read is read on to its line feed and scanned
// whole, so the exchange stays in step.
TEST_F(Served, LongLineIsScannedWhole)
{
    std::string path = "C:\\" + std::string(3000, 'b') + ".dll";
    std::string answer = Send(path + "\n");
    EXPECT_EQ(ScannedAs(answer), path);
    EXPECT_EQ(CountOf(answer, ">:{\n"), 1);
    std::string exact(1024, 'c'); // fills the buffer; its line feed comes in the next read
    EXPECT_EQ(ScannedAs(Send(exact + "\n")), exact);
    // A NUL ends a long line as it ends a short one; the rest is skipped.
    EXPECT_EQ(ScannedAs(Send(std::string("nul.dll\0", 8) + std::string(2000, 'e') + "\n")),
              "nul.dll");
    EXPECT_EQ(ScannedAs(Send("after\n")), "after");
    ExpectCleanEnd();
}

// The whole answer to a line longer than the server assembles.
const std::string OverlongAnswer = "error:Request line longer than 131072 bytes, not scanned\n"
                                   ">:{\n"
                                   ">:  \"id\":        \"00000000\",\n"
                                   ">:  \"name\":      \"\",\n"
                                   ">:  \"vendor\":    \"\",\n"
                                   ">:  \"product\":   \"\",\n"
                                   ">:  \"version\":   \"\",\n"
                                   ">:  \"error\":     \"Request line longer than 131072 bytes, not scanned\",\n"
                                   ">:  \"numInputs\": 0,\n"
                                   ">:  \"numOutputs\":0,\n"
                                   ">:  \"wantsMidi\":  false,\n"
                                   ">:  \"sendsMidi\": false,\n"
                                   + PlatformLine() +
                                   ">:  \"audio64\":   false,\n"
                                   ">:  \"category\":  -1,\n"
                                   ">:  \"synthEdit\": false,\n"
                                   ">:}\n"
                                   "ready:\n";

TEST_F(Served, OverlongLineGetsAnErrorReportAndTheExchangeGoesOn)
{
    EXPECT_EQ(Send(std::string(140000, 'd') + "\n"), OverlongAnswer);
    EXPECT_EQ(ScannedAs(Send("after\n")), "after");
    ExpectCleanEnd();
}

TEST_F(Served, LongestLineScannedIs131072Bytes)
{
    std::string longest(131072, 'e');
    EXPECT_EQ(ScannedAs(Send(longest + "\n")), longest);
    EXPECT_EQ(Send(longest + "f\n"), OverlongAnswer);
    ExpectCleanEnd();
}

TEST_F(Served, IllFormedUtf8DoesNotStopTheRequest)
{
    std::string answer = Send("a\xff\xfe" "b.dll\n");
    std::string scanned = ScannedAs(answer);
    ASSERT_GE(scanned.size(), 6u);
    EXPECT_EQ(scanned.front(), 'a');
    EXPECT_EQ(scanned.substr(scanned.size() - 5), "b.dll");
    EXPECT_NE(scanned.find("\xef\xbf\xbd"), std::string::npos); // replacement characters
    ExpectCleanEnd();
}

// The answer to a request whose file cannot be loaded, up to the next
// "ready:".
std::string LoadFailureAnswer(const std::string& scannedAs, const std::string& errorCode)
{
    return "info:Scanning plugin: '" + scannedAs + "'\n"
           "info:Loading library...\n"
           "error:Failed to load library, err=" + errorCode + "\n"
           ">:{\n"
           ">:  \"id\":        \"00000000\",\n"
           ">:  \"name\":      \"\",\n"
           ">:  \"vendor\":    \"\",\n"
           ">:  \"product\":   \"\",\n"
           ">:  \"version\":   \"\",\n"
           ">:  \"error\":     \"Failed to load library, err=" + errorCode + "\",\n"
           ">:  \"numInputs\": 0,\n"
           ">:  \"numOutputs\":0,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           + PlatformLine() +
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  -1,\n"
           ">:  \"synthEdit\": false,\n"
           ">:}\n"
           "ready:\n";
}

// A request that ends inside a multi-byte sequence, right after a longer
// one: the scan line shows this request's text alone, its incomplete end as
// one replacement character (EF BF BD), and nothing of the earlier request.
TEST_F(Served, ShortRequestEndingInsideASequenceAfterALongOne)
{
    std::string longPath = "C:\\" + std::string(3000, 'b') + ".dll";
    EXPECT_EQ(ScannedAs(Send(longPath + "\n")), longPath);
    EXPECT_EQ(Send("\x7f\xe0\n"), LoadFailureAnswer("\x7f\xef\xbf\xbd", "126"));
    EXPECT_EQ(ScannedAs(Send(longPath + "\n")), longPath);
    EXPECT_EQ(Send("C:\\a\xf0\x9f\n"), LoadFailureAnswer("C:\\a\xef\xbf\xbd", "126"));

    std::string hiragana;
    for (int i = 0; i < 300; i++)
        hiragana += "\xe3\x81\x82";
    EXPECT_EQ(ScannedAs(Send(longPath + "\n")), longPath);
    EXPECT_EQ(Send(hiragana + "\xe3\n"), LoadFailureAnswer(hiragana + "\xef\xbf\xbd", "126"));
    ExpectCleanEnd();
}

TEST_F(Served, NonAsciiPathGoesBothWaysAsUtf8)
{
    std::string path = "C:\\Pl\xc3\xbcgins\\\xe4\xb8\xad\xe6\x96\x87.dll";
    EXPECT_EQ(ScannedAs(Send(path + "\n")), path);
    ExpectCleanEnd();
}

TEST(Spine, BannerThenReadyThenCleanExit)
{
    SKIP_UNLESS_SERVER_RUNS();
    ServerProcess server;
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(server.ReadUntilReady(), Banner + Ready);
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

TEST(Spine, UpperCaseHandleWithTrailingBlankStillServes)
{
    SKIP_UNLESS_SERVER_RUNS();
    ServerProcess server;
    ServerOptions options;
    options.upperCaseInput = true;
    options.inputSuffix = L" ";
    ASSERT_TRUE(server.Start(options));
    EXPECT_EQ(server.ReadUntilReady(), Banner + Ready);
    EXPECT_EQ(ScannedAs(server.Request("x.dll")), "x.dll");
    server.CloseInput();
    EXPECT_EQ(server.WaitExit(), 0u);
}

TEST(Spine, OutputGoesToStandardOutputWithoutSecondArgument)
{
    SKIP_UNLESS_SERVER_RUNS();
    ServerProcess server;
    ServerOptions options;
    options.outputAsStdout = true;
    ASSERT_TRUE(server.Start(options));
    EXPECT_EQ(server.ReadUntilReady(), Banner + Ready);
    EXPECT_EQ(ScannedAs(server.Request("y.dll")), "y.dll");
    server.CloseInput();
    EXPECT_EQ(server.WaitExit(), 0u);
}

// "0x..." parses as 0: no request loop, only the banner and a message loop
// that ends when a quit message reaches the server's thread.
TEST(Spine, PrefixedHandleMeansMessageLoopOnly)
{
    SKIP_UNLESS_SERVER_RUNS();
    ServerProcess server;
    ServerOptions options;
    options.inputPrefix = L"0x";
    ASSERT_TRUE(server.Start(options));
    bool ready = true;
    std::string first = server.ReadUntilReady(3000, &ready);
    EXPECT_FALSE(ready);
    EXPECT_EQ(first, Banner);
    for (int i = 0; i < 200 && !PostThreadMessageW(server.ThreadId(), WM_QUIT, 0, 0); i++)
        Sleep(50);
    EXPECT_EQ(server.WaitExit(), 0u);
    EXPECT_EQ(server.ReadToEnd(), "");
}

} // namespace
