// Out of memory along the whole scan path: the request loop runs in this
// process over a request file, with the real sample plugins, while each
// allocation fails in turn. Every answer must be whole tagged lines and one
// report block, either the clean answer with whole log lines left out or the
// out-of-memory answer, and nothing may stay allocated.
#include "app/request_loop.h"
#include "app/server.h"
#include "base/log_output.h"
#include "build_paths.h"
#include "crash/crash_dump.h"
#include "fault_injection.h"
#include "machines.h"
#include "output_capture.h"
#include "scan/library_cache.h"
#include "scan/report_lines.h"
#include "scan/scan_request.h"
#include "scan/vst2_probe.h"
#include "text.h"
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

using testsupport::BinPath;
using testsupport::FixtureBinPath;
using testsupport::FixturePath;
using testsupport::PlatformLine;
using testsupport::ServerTexts;
using testsupport::SamplePath;
using testsupport::Utf8;

namespace {

const std::string EffectPath = Utf8(SamplePath(L"SampleEffect"));
const std::string SynthPath = Utf8(SamplePath(L"SampleSynth"));
const std::string ShellPath = Utf8(SamplePath(L"SampleShell"));
const std::string VersionedPath = Utf8(FixturePath(L"TestPluginVersionProduct"));
const std::string MissingPath = Utf8(BinPath(L"NoSuchPlugin.dll"));

std::string Info(const std::string& text) { return "info:" + text + "\n"; }

// The module handle printed with %p differs from run to run.
std::string MaskModule(std::string answer)
{
    const std::string looking = "info:Looking for entry point in module ";
    for (size_t at = answer.find(looking); at != std::string::npos; at = answer.find(looking, at + 1))
        answer.replace(at + looking.size(), ServerTexts().pointerDigits, "HANDLE");
    return answer;
}

const std::string Entry = Info("Looking for entry point in module HANDLE") + Info("Found VSTPluginMain()") +
                          Info("Calling entry point...");
const std::string Version = Info("Audio master callback: 1 - audioMasterVersion");
const std::string CurrentId = Info("Audio master callback: 2 - audioMasterCurrentId");
const std::string CloseAndFree = Info("Dispatching effClose...") + Info("Freeing library...") + Info("Finished");
const std::string CloseAndKeep =
    Info("Dispatching effClose...") + Info("Keeping shell library loaded for now...") + Info("Finished");

const std::string EffectAnswer = "ready:\n" + Info("Scanning plugin: '" + EffectPath + "'") +
                                 Info("Loading library...") + Entry + Version + CloseAndFree +
                                 ">:{\n"
                                 ">:  \"id\":        \"536D4566\",\n"
                                 ">:  \"name\":      \"Sample Effect\",\n"
                                 ">:  \"vendor\":    \"Zandrel Software\",\n"
                                 ">:  \"product\":   \"Orvanta Samples\",\n"
                                 ">:  \"version\":   \"1.1.0.0\",\n"
                                 ">:  \"error\":     \"\",\n"
                                 ">:  \"numInputs\": 2,\n"
                                 ">:  \"numOutputs\":2,\n"
                                 ">:  \"wantsMidi\":  false,\n"
                                 ">:  \"sendsMidi\": false,\n"
                                 + PlatformLine() +
                                 ">:  \"audio64\":   true,\n"
                                 ">:  \"category\":  1,\n"
                                 ">:  \"synthEdit\": false,\n"
                                 ">:}\n"
                                 "ready:\n";

const std::string SynthAnswer = "ready:\n" + Info("Scanning plugin: '" + SynthPath + "'") +
                                Info("Loading library...") + Entry + Version + CloseAndFree +
                                ">:{\n"
                                ">:  \"id\":        \"536D5379\",\n"
                                ">:  \"name\":      \"Sample Synth\",\n"
                                ">:  \"vendor\":    \"Zandrel Software\",\n"
                                ">:  \"product\":   \"Orvanta Samples\",\n"
                                ">:  \"version\":   \"1.0.0.0\",\n"
                                ">:  \"error\":     \"\",\n"
                                ">:  \"numInputs\": 0,\n"
                                ">:  \"numOutputs\":2,\n"
                                ">:  \"wantsMidi\":  true,\n"
                                ">:  \"sendsMidi\": false,\n"
                                + PlatformLine() +
                                ">:  \"audio64\":   false,\n"
                                ">:  \"category\":  2,\n"
                                ">:  \"synthEdit\": false,\n"
                                ">:}\n"
                                "ready:\n";

const std::string ShellAnswer = "ready:\n" + Info("Scanning plugin: '" + ShellPath + "'") +
                                Info("Loading library...") + Entry + Version + CurrentId +
                                Info("Found shell: 53480001 - Sample Shell Chorus") +
                                Info("Found shell: 53480002 - Sample Shell Delay") + CloseAndKeep +
                                ">:{\n"
                                ">:  \"id\":        \"536D5368\",\n"
                                ">:  \"name\":      \"Sample Shell\",\n"
                                ">:  \"vendor\":    \"Zandrel Software\",\n"
                                ">:  \"product\":   \"Orvanta Samples\",\n"
                                ">:  \"version\":   \"1.0.0.0\",\n"
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
                                ">:        \"53480001\": \"Sample Shell Chorus\",\n"
                                ">:        \"53480002\": \"Sample Shell Delay\",\n"
                                ">:  },\n"
                                ">:}\n"
                                "ready:\n";

const std::string ChorusAnswer = "ready:\n" + Info("Scanning plugin: '" + ShellPath + ">53480001'") +
                                 Info("Re-using previous library instance...") + Entry + Version + CurrentId +
                                 CloseAndKeep +
                                 ">:{\n"
                                 ">:  \"id\":        \"53480001\",\n"
                                 ">:  \"name\":      \"Sample Shell Chorus\",\n"
                                 ">:  \"vendor\":    \"Zandrel Software\",\n"
                                 ">:  \"product\":   \"Orvanta Samples\",\n"
                                 ">:  \"version\":   \"1.0.0.0\",\n"
                                 ">:  \"error\":     \"\",\n"
                                 ">:  \"numInputs\": 2,\n"
                                 ">:  \"numOutputs\":2,\n"
                                 ">:  \"wantsMidi\":  false,\n"
                                 ">:  \"sendsMidi\": false,\n"
                                 + PlatformLine() +
                                 ">:  \"audio64\":   false,\n"
                                 ">:  \"category\":  1,\n"
                                 ">:  \"synthEdit\": false,\n"
                                 ">:}\n"
                                 "ready:\n";

// The version resource's product version stands in for the plugin's own 0.
const std::string VersionedAnswer = "ready:\n" + Info("Scanning plugin: '" + VersionedPath + "'") +
                                    Info("Loading library...") + Entry + CloseAndFree +
                                    ">:{\n"
                                    ">:  \"id\":        \"00000000\",\n"
                                    ">:  \"name\":      \"\",\n"
                                    ">:  \"vendor\":    \"\",\n"
                                    ">:  \"product\":   \"\",\n"
                                    ">:  \"version\":   \"65535.2.40000.4\",\n"
                                    ">:  \"error\":     \"\",\n"
                                    ">:  \"numInputs\": 0,\n"
                                    ">:  \"numOutputs\":0,\n"
                                    ">:  \"wantsMidi\":  false,\n"
                                    ">:  \"sendsMidi\": false,\n"
                                    + PlatformLine() +
                                    ">:  \"audio64\":   false,\n"
                                    ">:  \"category\":  2,\n"
                                    ">:  \"synthEdit\": false,\n"
                                    ">:}\n"
                                    "ready:\n";

const std::string MissingAnswer = "ready:\n" + Info("Scanning plugin: '" + MissingPath + "'") +
                                  Info("Loading library...") +
                                  "error:Failed to load library, err=126\n"
                                  ">:{\n"
                                  ">:  \"id\":        \"00000000\",\n"
                                  ">:  \"name\":      \"\",\n"
                                  ">:  \"vendor\":    \"\",\n"
                                  ">:  \"product\":   \"\",\n"
                                  ">:  \"version\":   \"\",\n"
                                  ">:  \"error\":     \"Failed to load library, err=126\",\n"
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

// The out-of-memory answer's error line and block for a reason.
std::string OutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"id\":        \"00000000\",\n"
           ">:  \"name\":      \"\",\n"
           ">:  \"vendor\":    \"\",\n"
           ">:  \"product\":   \"\",\n"
           ">:  \"version\":   \"\",\n"
           ">:  \"error\":     \"" + reason + "\",\n"
           ">:  \"numInputs\": 0,\n"
           ">:  \"numOutputs\":0,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           + PlatformLine() +
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  -1,\n"
           ">:  \"synthEdit\": false,\n"
           ">:}\n";
}

// The same for a VST3 module request, and for a class request of the
// sample effect's class.
std::string Vst3ModuleOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"vst3\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"initDll\": false,\n"
           ">:  \"exitDll\": false,\n"
           ">:  \"factory\": {\"vendor\": \"\", \"url\": \"\", \"email\": \"\", \"flags\": 0},\n"
           ">:  \"classCount\": 0,\n"
           ">:  \"classes\": []\n"
           ">:}\n";
}

std::string Vst3ClassOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"vst3\",\n"
           ">:  \"cid\": \"0123456789ABCDEF0123456789ABCDEF\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"audioInputBuses\": 0,\n"
           ">:  \"audioOutputBuses\": 0,\n"
           ">:  \"eventInputBuses\": 0,\n"
           ">:  \"eventOutputBuses\": 0,\n"
           ">:  \"audioInputs\": 0,\n"
           ">:  \"audioOutputs\": 0,\n"
           ">:  \"controller\": \"\",\n"
           ">:  \"buses\": []\n"
           ">:}\n";
}

// The same for a CLAP module request and a plugin request.
std::string ClapModuleOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"clap\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"clapVersion\": \"\",\n"
           ">:  \"pluginCount\": 0,\n"
           ">:  \"araFactory\": \"\",\n"
           ">:  \"plugins\": [],\n"
           ">:  \"converters\": []\n"
           ">:}\n";
}

std::string ClapPluginOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"clap\",\n"
           ">:  \"id\": \"\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"audioInputPorts\": 0,\n"
           ">:  \"audioOutputPorts\": 0,\n"
           ">:  \"audioInputs\": 0,\n"
           ">:  \"audioOutputs\": 0,\n"
           ">:  \"noteInputPorts\": 0,\n"
           ">:  \"noteOutputPorts\": 0,\n"
           ">:  \"gui\": false,\n"
           ">:  \"ports\": []\n"
           ">:}\n";
}

typedef std::string (*OutOfMemoryAnswerFn)(const std::string& reason);

const char* const Reasons[] = {"Out of memory while reading the request", "Out of memory while scanning the plugin",
                               "Out of memory while writing the report"};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start))
    {
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start)); // a line without its end
    return lines;
}

bool Tagged(const std::string& line)
{
    for (const char* tag : {"ready:", "info:", "warn:", "error:", ">:"})
        if (line.compare(0, strlen(tag), tag) == 0)
            return true;
    return false;
}

// Every line of part appears in whole, in the same order, in whole.
bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    size_t at = 0;
    for (const std::string& line : part)
    {
        while (at < whole.size() && whole[at] != line)
            at++;
        if (at == whole.size())
            return false;
        at++;
    }
    return true;
}

// Splits an answer at its report block: the lines before it (the final
// error line of an out-of-memory answer included) and the block itself.
struct Parts
{
    std::vector<std::string> before;
    std::vector<std::string> block;
};

Parts Split(const std::vector<std::string>& lines)
{
    Parts parts;
    size_t open = 0;
    while (open < lines.size() && lines[open] != ">:{\n")
        open++;
    parts.before.assign(lines.begin() + 1, lines.begin() + (open < lines.size() ? open : lines.size()));
    if (open < lines.size())
        parts.block.assign(lines.begin() + open, lines.end() - 1);
    return parts;
}

// Returns which answer it was: 0 the clean block, 1 + the reason's index
// for an out-of-memory one; -1 when it is not well formed.
int CheckAnswer(const std::string& answer, const std::string& clean,
                OutOfMemoryAnswerFn outOfMemoryAnswer = OutOfMemoryAnswer)
{
    std::vector<std::string> lines = Lines(answer);
    EXPECT_FALSE(answer.empty());
    if (answer.empty())
        return -1;
    EXPECT_EQ(answer.back(), '\n') << "the last line is not complete";
    int blocksOpened = 0, blocksClosed = 0, readies = 0;
    for (const std::string& line : lines)
    {
        EXPECT_TRUE(Tagged(line)) << "untagged line: " << line;
        blocksOpened += line == ">:{\n";
        blocksClosed += line == ">:}\n";
        readies += line == "ready:\n";
    }
    EXPECT_EQ(blocksOpened, 1);
    EXPECT_EQ(blocksClosed, 1);
    EXPECT_EQ(readies, 2);
    EXPECT_EQ(lines.front(), "ready:\n");
    EXPECT_EQ(lines.back(), "ready:\n");
    if (blocksOpened != 1 || blocksClosed != 1 || lines.back() != "ready:\n")
        return -1;

    Parts got = Split(lines);
    Parts want = Split(Lines(clean));
    if (got.block == want.block)
    {
        // Only whole log lines may be missing; a failed scan keeps its error
        // line, since it is built with the block.
        EXPECT_TRUE(IsSubsequence(got.before, want.before)) << answer;
        if (!want.before.empty() && want.before.back().compare(0, 6, "error:") == 0)
        {
            EXPECT_TRUE(!got.before.empty() && got.before.back() == want.before.back()) << answer;
        }
        return 0;
    }
    for (int i = 0; i < 3; i++)
    {
        // A request line that cannot be read has no format yet: its answer
        // is always the VST 2 block.
        std::vector<std::string> oom = Lines(i == 0 ? OutOfMemoryAnswer(Reasons[i]) : outOfMemoryAnswer(Reasons[i]));
        std::vector<std::string> tail(oom.begin() + 1, oom.end());
        if (got.block != tail)
            continue;
        EXPECT_FALSE(got.before.empty());
        if (got.before.empty())
            return -1;
        EXPECT_EQ(got.before.back(), oom.front());
        got.before.pop_back();
        // A shell whose list was cut short lists nothing, so its module is
        // freed rather than kept.
        for (std::string& line : got.before)
            if (line == Info("Freeing library..."))
                line = Info("Keeping shell library loaded for now...");
        std::vector<std::string> allowed = want.before;
        for (size_t i = 0; i < allowed.size(); i++)
            if (allowed[i] == Info("Freeing library..."))
                allowed[i] = Info("Keeping shell library loaded for now...");
        EXPECT_TRUE(IsSubsequence(got.before, allowed)) << answer;
        return 1 + i;
    }
    ADD_FAILURE() << "neither the clean block nor an out-of-memory one:\n" << answer;
    return -1;
}

// Runs the request loop over one request file, in this process, with the
// output captured. The crash filter the scan installs is put back after.
class ScanUnderFailures : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedFilter = SetUnhandledExceptionFilter(nullptr);
        SetUnhandledExceptionFilter(savedFilter);
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"req", 0, requestPath);
    }
    void TearDown() override
    {
        MemFailNth(0);
        FlushLibraryCache();
        out.Take();
        DeleteFileW(requestPath);
        SetUnhandledExceptionFilter(savedFilter);
    }

    void WriteRequest(const std::string& bytes)
    {
        HANDLE file = CreateFileW(requestPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }

    // The request file must exist before the run: the loop only reads it.
    void RunLoop()
    {
        HANDLE file = CreateFileW(requestPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE saved = InputHandle;
        InputHandle = file;
        RunRequestLoop();
        InputHandle = saved;
        CloseHandle(file);
        SetUnhandledExceptionFilter(savedFilter);
    }

    std::string Exchange(const std::string& request)
    {
        WriteRequest(request + "\n");
        RunLoop();
        return MaskModule(out.Take());
    }

    // Fails each allocation of the exchange in turn; returns how often each
    // kind of answer came back (clean block, then the three reasons).
    std::vector<int> RunWithFailures(const std::string& request, const std::string& clean,
                                     const std::function<void()>& setUp, bool cachedBefore = false,
                                     FailureMode mode = FailOnce,
                                     OutOfMemoryAnswerFn outOfMemoryAnswer = OutOfMemoryAnswer)
    {
        std::vector<int> kinds(4, 0);
        WriteRequest(request + "\n");
        int failures = FailEachAllocationInTurn(
            [&] {
                if (setUp)
                    setUp();
                out.Take();
            },
            [&] { RunLoop(); },
            [&](const FailureRun& run) {
                std::string answer = MaskModule(out.Take());
                SCOPED_TRACE("allocation " + std::to_string(run.n));
                if (!run.refused)
                {
                    EXPECT_EQ(answer, clean);
                    return;
                }
                int kind = CheckAnswer(answer, clean, outOfMemoryAnswer);
                if (kind >= 0)
                    kinds[kind]++;
                // Nothing of the request may stay allocated; the cache is
                // emptied first when the case did not start with one.
                if (!cachedBefore)
                    FlushLibraryCache();
                out.Take();
                EXPECT_EQ(MemLiveBlocks(), run.liveBefore);
            },
            mode);
        EXPECT_GT(failures, 10);
        return kinds;
    }

    OutputCapture out;
    wchar_t requestPath[MAX_PATH];
    LPTOP_LEVEL_EXCEPTION_FILTER savedFilter = nullptr;
};

TEST_F(ScanUnderFailures, CleanAnswersOfEveryCase)
{
    EXPECT_EQ(Exchange(EffectPath), EffectAnswer);
    EXPECT_EQ(Exchange(SynthPath), SynthAnswer);
    EXPECT_EQ(Exchange(ShellPath), ShellAnswer);
    EXPECT_EQ(Exchange(ShellPath + ">53480001"), ChorusAnswer);
    FlushLibraryCache();
    EXPECT_EQ(out.Take(), Info("Freeing cached library...") + Info("Freed"));
    EXPECT_EQ(Exchange(VersionedPath), VersionedAnswer);
    EXPECT_EQ(Exchange(MissingPath), MissingAnswer);
}

TEST_F(ScanUnderFailures, SampleEffect)
{
    std::vector<int> kinds = RunWithFailures(EffectPath, EffectAnswer, nullptr);
    EXPECT_GT(kinds[0], 0) << "no log line was ever dropped";
    EXPECT_GT(kinds[1], 0) << "the request line never failed";
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

TEST_F(ScanUnderFailures, SampleSynth)
{
    std::vector<int> kinds = RunWithFailures(SynthPath, SynthAnswer, nullptr);
    EXPECT_GT(kinds[2], 0);
    EXPECT_GT(kinds[3], 0);
}

TEST_F(ScanUnderFailures, ShellWithoutCachedModule)
{
    std::vector<int> kinds = RunWithFailures(ShellPath, ShellAnswer, [this] {
        FlushLibraryCache();
    });
    EXPECT_GT(kinds[2], 0) << "shell enumeration never failed";
    EXPECT_GT(kinds[3], 0);
}

TEST_F(ScanUnderFailures, SubPluginAgainstCachedModule)
{
    std::vector<int> kinds = RunWithFailures(ShellPath + ">53480001", ChorusAnswer, [this] {
        // A clean scan of the shell leaves its module cached.
        std::string request = ShellPath + "\n";
        WriteRequest(request);
        RunLoop();
        WriteRequest(ShellPath + ">53480001\n");
    }, true);
    EXPECT_GT(kinds[2], 0);
    EXPECT_GT(kinds[3], 0);
}

TEST_F(ScanUnderFailures, VersionResourceOfTheFile)
{
    std::vector<int> kinds = RunWithFailures(VersionedPath, VersionedAnswer, nullptr);
    EXPECT_GT(kinds[2], 0) << "the version block or its text never failed";
}

TEST_F(ScanUnderFailures, FailingLoad)
{
    std::vector<int> kinds = RunWithFailures(MissingPath, MissingAnswer, nullptr);
    EXPECT_GT(kinds[2], 0) << "the load error text never failed";
    EXPECT_GT(kinds[3], 0);
}

// Memory that stays exhausted: the answer still goes out whole, from fixed
// text, and from the first allocation on it is the request's.
TEST_F(ScanUnderFailures, MemoryThatStaysExhausted)
{
    std::vector<int> kinds = RunWithFailures(EffectPath, EffectAnswer, nullptr, false, FailStays);
    EXPECT_GT(kinds[1] + kinds[2] + kinds[3], 0);
    WriteRequest(EffectPath + "\n");
    MemFailFrom(1);
    RunLoop();
    MemFailNth(0);
    EXPECT_EQ(out.Take(), "ready:\n" + OutOfMemoryAnswer(Reasons[0]) + "ready:\n");
}

// The editor form: its clean block has hasEditor; its out-of-memory answer
// is the plain form's, without it.
TEST_F(ScanUnderFailures, EditorFormOfTheSampleEffect)
{
    const std::string line = "vst2|" + EffectPath;
    const std::string clean = "ready:\n" + Info("Scanning plugin: '" + line + "'") + Info("Loading library...") +
                              Entry + Version + CloseAndFree +
                              ">:{\n"
                              ">:  \"id\":        \"536D4566\",\n"
                              ">:  \"name\":      \"Sample Effect\",\n"
                              ">:  \"vendor\":    \"Zandrel Software\",\n"
                              ">:  \"product\":   \"Orvanta Samples\",\n"
                              ">:  \"version\":   \"1.1.0.0\",\n"
                              ">:  \"error\":     \"\",\n"
                              ">:  \"numInputs\": 2,\n"
                              ">:  \"numOutputs\":2,\n"
                              ">:  \"wantsMidi\":  false,\n"
                              ">:  \"sendsMidi\": false,\n"
                              + PlatformLine() +
                              ">:  \"audio64\":   true,\n"
                              ">:  \"category\":  1,\n"
                              ">:  \"synthEdit\": false,\n"
                              ">:  \"hasEditor\": true,\n"
                              ">:}\n"
                              "ready:\n";
    EXPECT_EQ(Exchange(line), clean);
    std::vector<int> kinds = RunWithFailures(line, clean, nullptr);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

// A VST3 module request and a class request that loads the module itself:
// the same rule, with the VST3 blocks.
const std::string Vst3Line = "vst3|" + Utf8(FixtureBinPath(L"vst3\\Vst3Effect.vst3\\Contents\\" +
                                                           std::wstring(ServerTexts().vst3Folder) +
                                                           L"\\Vst3Effect.vst3"));
const std::string Vst3Opening = Info("Phase: load") + Info("Phase: InitDll") + Info("Phase: GetPluginFactory") +
                                Info("Phase: setHostContext");
const std::string Vst3Keep = Info("Keeping VST3 library loaded for now...") + Info("Finished");

TEST_F(ScanUnderFailures, Vst3ModuleRequest)
{
    const std::string clean =
        "ready:\n" + Info("Scanning VST3 module: '" + Vst3Line + "'") + Vst3Opening + Info("Phase: factory info") +
        Info("Phase: class info") + Vst3Keep +
        ">:{\n"
        ">:  \"format\": \"vst3\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"initDll\": true,\n"
        ">:  \"exitDll\": true,\n"
        ">:  \"factory\": {\"vendor\": \"Zandrel Software\", \"url\": \"https:\\/\\/zandrel.example\\/plugins\", \"email\": \"support@zandrel.example\", \"flags\": 16},\n"
        ">:  \"classCount\": 1,\n"
        ">:  \"classes\": [\n"
        ">:    {\"index\": 0, \"cid\": \"0123456789ABCDEF0123456789ABCDEF\", \"category\": \"Audio Module Class\", \"name\": \"Orvanta Test Effect\", \"cardinality\": 2147483647, \"infoLevel\": 3, \"classFlags\": 1, \"subCategories\": \"Fx|Stereo\", \"vendor\": \"Zandrel Software\", \"version\": \"1.2.3\", \"sdkVersion\": \"VST 3.7.9\"}\n"
        ">:  ]\n"
        ">:}\n"
        "ready:\n";
    EXPECT_EQ(Exchange(Vst3Line), clean);
    FlushLibraryCache();
    std::vector<int> kinds = RunWithFailures(Vst3Line, clean, [this] { FlushLibraryCache(); }, false, FailOnce,
                                             Vst3ModuleOutOfMemoryAnswer);
    EXPECT_GT(kinds[0], 0) << "no log line was ever dropped";
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

TEST_F(ScanUnderFailures, Vst3ClassRequest)
{
    const std::string line = Vst3Line + ">0123456789ABCDEF0123456789ABCDEF";
    const std::string clean =
        "ready:\n" + Info("Scanning VST3 class: '" + line + "'") + Vst3Opening + Info("Phase: createInstance") +
        Info("Phase: initialize") + Info("Phase: bus info") + Info("Phase: controller") + Info("Phase: terminate") +
        Info("Phase: release") +
        Vst3Keep +
        ">:{\n"
        ">:  \"format\": \"vst3\",\n"
        ">:  \"cid\": \"0123456789ABCDEF0123456789ABCDEF\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"audioInputBuses\": 2,\n"
        ">:  \"audioOutputBuses\": 1,\n"
        ">:  \"eventInputBuses\": 0,\n"
        ">:  \"eventOutputBuses\": 0,\n"
        ">:  \"audioInputs\": 2,\n"
        ">:  \"audioOutputs\": 2,\n"
        ">:  \"controller\": \"\",\n"
        ">:  \"buses\": [\n"
        ">:    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 0, \"name\": \"Stereo In\", \"channels\": 2, \"busType\": 0, \"flags\": 1},\n"
        ">:    {\"media\": \"audio\", \"direction\": \"in\", \"index\": 1, \"name\": \"Sidechain\", \"channels\": 2, \"busType\": 1, \"flags\": 0},\n"
        ">:    {\"media\": \"audio\", \"direction\": \"out\", \"index\": 0, \"name\": \"Stereo Out\", \"channels\": 2, \"busType\": 0, \"flags\": 1}\n"
        ">:  ]\n"
        ">:}\n"
        "ready:\n";
    EXPECT_EQ(Exchange(line), clean);
    FlushLibraryCache();
    std::vector<int> kinds = RunWithFailures(line, clean, [this] { FlushLibraryCache(); }, false, FailOnce,
                                             Vst3ClassOutOfMemoryAnswer);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

// A CLAP module request and a plugin request that loads the module itself:
// the same rule, with the CLAP blocks.
const std::string ClapLine = "clap|" + Utf8(FixtureBinPath(L"clap\\ClapEffect.clap"));
const std::string ClapOpening = Info("Phase: load") + Info("Phase: clap_entry") + Info("Phase: init") +
                                Info("Phase: get_factory");
const std::string ClapKeep = Info("Keeping CLAP library loaded for now...") + Info("Finished");

TEST_F(ScanUnderFailures, ClapModuleRequest)
{
    const std::string clean =
        "ready:\n" + Info("Scanning CLAP module: '" + ClapLine + "'") + ClapOpening + Info("Phase: descriptors") +
        Info("Phase: vst3 info") + Info("Phase: converters") + Info("Phase: ara factory") + ClapKeep +
        ">:{\n"
        ">:  \"format\": \"clap\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"clapVersion\": \"1.2.2\",\n"
        ">:  \"pluginCount\": 1,\n"
        ">:  \"araFactory\": \"\",\n"
        ">:  \"plugins\": [\n"
        ">:    {\"index\": 0, \"problem\": \"\", \"id\": \"com.zandrel.orvanta-effect\", \"name\": \"Orvanta CLAP Effect\", \"vendor\": \"Zandrel Software\", \"url\": \"https:\\/\\/zandrel.example\\/effect\", \"manualUrl\": \"\", \"supportUrl\": \"\", \"version\": \"1.2.3\", \"description\": \"A stereo effect\", \"features\": [\"audio-effect\", \"stereo\"], \"clapVersion\": \"1.2.2\", \"cut\": [], \"vst3\": \"\"}\n"
        ">:  ],\n"
        ">:  \"converters\": []\n"
        ">:}\n"
        "ready:\n";
    EXPECT_EQ(Exchange(ClapLine), clean);
    FlushLibraryCache();
    std::vector<int> kinds = RunWithFailures(ClapLine, clean, [this] { FlushLibraryCache(); }, false, FailOnce,
                                             ClapModuleOutOfMemoryAnswer);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

TEST_F(ScanUnderFailures, ClapPluginRequest)
{
    const std::string line = ClapLine + ">com.zandrel.orvanta-effect";
    const std::string clean =
        "ready:\n" + Info("Scanning CLAP plugin: '" + line + "'") + ClapOpening + Info("Phase: create_plugin") +
        Info("Phase: plugin init") + Info("Phase: audio ports") + Info("Phase: note ports") + Info("Phase: gui") +
        Info("Phase: destroy") + ClapKeep +
        ">:{\n"
        ">:  \"format\": \"clap\",\n"
        ">:  \"id\": \"com.zandrel.orvanta-effect\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"audioInputPorts\": 2,\n"
        ">:  \"audioOutputPorts\": 1,\n"
        ">:  \"audioInputs\": 2,\n"
        ">:  \"audioOutputs\": 2,\n"
        ">:  \"noteInputPorts\": 0,\n"
        ">:  \"noteOutputPorts\": 0,\n"
        ">:  \"gui\": false,\n"
        ">:  \"ports\": [\n"
        ">:    {\"kind\": \"audio\", \"direction\": \"in\", \"index\": 0, \"id\": 0, \"name\": \"Stereo In\", \"channels\": 2, \"flags\": 1, \"portType\": \"stereo\"},\n"
        ">:    {\"kind\": \"audio\", \"direction\": \"in\", \"index\": 1, \"id\": 2, \"name\": \"Sidechain\", \"channels\": 2, \"flags\": 0, \"portType\": \"stereo\"},\n"
        ">:    {\"kind\": \"audio\", \"direction\": \"out\", \"index\": 0, \"id\": 1, \"name\": \"Stereo Out\", \"channels\": 2, \"flags\": 1, \"portType\": \"stereo\"}\n"
        ">:  ]\n"
        ">:}\n"
        "ready:\n";
    EXPECT_EQ(Exchange(line), clean);
    FlushLibraryCache();
    std::vector<int> kinds = RunWithFailures(line, clean, [this] { FlushLibraryCache(); }, false, FailOnce,
                                             ClapPluginOutOfMemoryAnswer);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

// The CLAP presets requests against the cached module: the same rule, with
// the presets blocks (a provider request's has its provider empty). The
// module's loading is the CLAP module request's, failed above; loading it
// again for every run would use up the TLS indexes of the 32-bit process,
// which runs the whole suite, since the fixtures' runtime takes one on each
// load and never gives it back.
std::string ClapProvidersOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"clap-presets\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"factory\": \"\",\n"
           ">:  \"providerCount\": 0,\n"
           ">:  \"providers\": []\n"
           ">:}\n";
}

std::string ClapProviderOutOfMemoryAnswer(const std::string& reason)
{
    return "error:" + reason + "\n"
           ">:{\n"
           ">:  \"format\": \"clap-presets\",\n"
           ">:  \"provider\": \"\",\n"
           ">:  \"error\": \"" + reason + "\",\n"
           ">:  \"phase\": \"\",\n"
           ">:  \"fileTypes\": [],\n"
           ">:  \"locations\": [],\n"
           ">:  \"soundpacks\": [],\n"
           ">:  \"presetCount\": 0,\n"
           ">:  \"presets\": [],\n"
           ">:  \"errors\": [],\n"
           ">:  \"cut\": []\n"
           ">:}\n";
}

const std::string ClapPresetsLine = "clap-presets|" + Utf8(FixtureBinPath(L"clap\\ClapPresets.clap"));

TEST_F(ScanUnderFailures, ClapPresetsProviderListRequest)
{
    const std::string clean =
        "ready:\n" + Info("Scanning CLAP presets: '" + ClapPresetsLine + "'") +
        Info("Re-using previous library instance...") + Info("Phase: preset factory") + Info("Phase: providers") +
        ClapKeep +
        ">:{\n"
        ">:  \"format\": \"clap-presets\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"factory\": \"clap.preset-discovery-factory\\/2\",\n"
        ">:  \"providerCount\": 2,\n"
        ">:  \"providers\": [\n"
        ">:    {\"index\": 0, \"problem\": \"\", \"id\": \"com.zandrel.presets.factory\", \"name\": \"Zandrel Factory Presets\", \"vendor\": \"Zandrel Software\", \"clapVersion\": \"1.2.2\"},\n"
        ">:    {\"index\": 1, \"problem\": \"\", \"id\": \"com.zandrel.presets.user\", \"name\": \"Zandrel User Presets\", \"vendor\": \"Zandrel Software\", \"clapVersion\": \"1.0.0\"}\n"
        ">:  ]\n"
        ">:}\n"
        "ready:\n";
    Exchange(ClapPresetsLine);
    EXPECT_EQ(Exchange(ClapPresetsLine), clean);
    // Each run starts with the module cached.
    std::vector<int> kinds = RunWithFailures(ClapPresetsLine, clean, [this] { RunLoop(); }, true, FailOnce,
                                             ClapProvidersOutOfMemoryAnswer);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

// The user provider: a plugin location and two presets inside the plugin,
// the first begun without a name.
TEST_F(ScanUnderFailures, ClapPresetsProviderRequest)
{
    const std::string line = ClapPresetsLine + ">com.zandrel.presets.user";
    const std::string synth = "{\"abi\": \"clap\", \"id\": \"com.zandrel.preset-synth\"}";
    const std::string clean =
        "ready:\n" + Info("Scanning CLAP presets: '" + line + "'") + Info("Re-using previous library instance...") +
        Info("Phase: preset factory") + Info("Phase: create") + Info("Phase: init") + Info("Phase: metadata") +
        Info("Phase: destroy") + ClapKeep +
        ">:{\n"
        ">:  \"format\": \"clap-presets\",\n"
        ">:  \"provider\": \"com.zandrel.presets.user\",\n"
        ">:  \"error\": \"\",\n"
        ">:  \"phase\": \"\",\n"
        ">:  \"fileTypes\": [],\n"
        ">:  \"locations\": [\n"
        ">:    {\"flags\": 10, \"name\": \"Favourites\", \"kind\": \"plugin\", \"location\": \"\"}\n"
        ">:  ],\n"
        ">:  \"soundpacks\": [],\n"
        ">:  \"presetCount\": 2,\n"
        ">:  \"presets\": [\n"
        ">:    {\"kind\": \"plugin\", \"location\": \"\", \"name\": \"\", \"loadKey\": \"fav:1\", \"plugins\": [" + synth + "], \"soundpack\": \"\", \"flags\": 10, \"creators\": [], \"description\": \"\", \"created\": 0, \"modified\": 0, \"features\": [], \"extra\": [], \"cut\": []},\n"
        ">:    {\"kind\": \"plugin\", \"location\": \"\", \"name\": \"My Lead\", \"loadKey\": \"fav:2\", \"plugins\": [" + synth + "], \"soundpack\": \"\", \"flags\": 2, \"creators\": [], \"description\": \"\", \"created\": 0, \"modified\": 0, \"features\": [], \"extra\": [], \"cut\": []}\n"
        ">:  ],\n"
        ">:  \"errors\": [],\n"
        ">:  \"cut\": []\n"
        ">:}\n"
        "ready:\n";
    Exchange(ClapPresetsLine);
    EXPECT_EQ(Exchange(line), clean);
    std::vector<int> kinds = RunWithFailures(line, clean, [this, line] {
        WriteRequest(ClapPresetsLine + "\n");
        RunLoop();
        WriteRequest(line + "\n");
    }, true, FailOnce, ClapProviderOutOfMemoryAnswer);
    EXPECT_GT(kinds[2], 0) << "no text of the scan ever failed";
    EXPECT_GT(kinds[3], 0) << "no report line ever failed";
}

// ---- the single operations on the way ---------------------------------------

TEST(OutOfMemory, EscapingGivesTheWholeTextOrNull)
{
    CSharedString escaped;
    FailEachAllocationInTurn([&] { escaped = EscapeJson(L"Caf\x00e9 \"Delay\"/\\\n"); },
                             [&](const FailureRun& run) {
                                 if (run.refused)
                                 {
                                     EXPECT_TRUE(escaped.IsNull()) << "allocation " << run.n;
                                 }
                                 else
                                     EXPECT_STREQ(escaped, L"Caf\\u00e9 \\\"Delay\\\"\\/\\\\\\n");
                                 escaped.Release();
                                 EXPECT_EQ(MemLiveBlocks(), run.liveBefore);
                             });
}

TEST(OutOfMemory, VersionTextIsNullNotEmpty)
{
    MemFailNth(1);
    CSharedString text = Vst2VersionToString(1100);
    MemFailNth(0);
    EXPECT_TRUE(text.IsNull());
    MemFailNth(1);
    CSharedString none = Vst2VersionToString(0);
    MemFailNth(0);
    EXPECT_TRUE(none.IsNull());
}

TEST(OutOfMemory, FileVersionBlockThatCannotBeMadeIsNotAMissingVersion)
{
    std::wstring path(VersionedPath.begin(), VersionedPath.end());
    VS_FIXEDFILEINFO record;
    MemFailNth(1);
    EXPECT_EQ(GetFileVersion(path.c_str(), &record), VersionNoMemory);
    MemFailNth(0);
    EXPECT_EQ(GetFileVersion(path.c_str(), &record), VersionFound);
    EXPECT_EQ(GetFileVersion(L"C:\\no\\such\\file.dll", &record), VersionMissing);

    CSharedString version;
    MemFailNth(1);
    EXPECT_FALSE(FileVersionString(path.c_str(), version));
    MemFailNth(2); // the block is made, the text is not
    EXPECT_FALSE(FileVersionString(path.c_str(), version));
    MemFailNth(0);
    EXPECT_TRUE(FileVersionString(path.c_str(), version));
    EXPECT_STREQ(version, L"65535.2.40000.4");
    EXPECT_TRUE(FileVersionString(L"C:\\no\\such\\file.dll", version));
    EXPECT_TRUE(version.IsNull());
}

TEST(OutOfMemory, OversizedRequestAnswerStaysWhole)
{
    OutputCapture out;
    MemFailNth(1);
    HandleOversizedRequest();
    MemFailNth(0);
    EXPECT_EQ(out.Take(), OutOfMemoryAnswer("Out of memory while writing the report"));
}

} // namespace
