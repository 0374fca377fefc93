// Shared pieces of the crash tests: the crash fixtures' request lines, the
// thread id file and time helpers, a reader of the minidump file format,
// the transcripts a host sees before a crash, and a test fixture that runs
// the real server with a fresh dump folder and checks the one dump it
// leaves.
#pragma once
#include "scan_support.h"
#include <gtest/gtest.h>
#include <stdint.h>
#include <algorithm>
#include <string>
#include <vector>

const DWORD CrashExit = 9;
// The environment variable that names the fixtures' thread id file.
extern const char* ThreadFileVariable;
const uint32_t SubPluginId = 0x43525331; // what CrashShell lists
const uint64_t OneSecond = 10000000;
// How long a test waits for a crashing server: DbgHelp under Wine takes up
// to 20 s for a dump, more on a busy machine.
const DWORD DumpTimeout = 90000;

// The crash fixture's path as a request line (bin\plugins\NAME.dll).
std::string PluginLine(const wchar_t* name);

// ---------------------------------------------------------------- files

// Decimal thread ids, one per line, as the fixtures write them.
std::vector<uint32_t> ReadThreadIds(const std::wstring& path);

// ----------------------------------------------------------------- time

// Local time as 100 ns ticks, for comparing with the time in a dump name.
uint64_t Ticks(const SYSTEMTIME& time);
uint64_t LocalNow();
// The dump file name for a local time.
std::wstring DumpNameAt(uint64_t ticks);
// "ZiveRivedo-x64-YYYY-MM-DD-HH-MM-SS.mdmp" (x86 for that server), every
// field with its digits.
bool ParseDumpName(const std::wstring& name, SYSTEMTIME* time);

// ------------------------------------------------------------- minidump

struct DumpModule
{
    uint64_t base = 0;
    uint32_t size = 0;
    std::wstring name;
};

struct Minidump
{
    std::string error; // empty when the file parsed as a minidump
    uint32_t streamCount = 0;
    bool hasException = false;
    uint32_t exceptionThread = 0;
    uint32_t exceptionCode = 0;
    uint64_t exceptionAddress = 0;
    std::vector<uint64_t> exceptionInfo;
    std::vector<DumpModule> modules;
    std::vector<uint32_t> threads;
    std::vector<uint32_t> streamTypes;
};

// Reads the header, the stream directory and the thread list (3), module
// list (4) and exception (6) streams, with the record layouts of the
// minidump file format.
Minidump ParseMinidump(const std::string& bytes);
bool SamePath(const std::wstring& a, const std::wstring& b);

// ----------------------------------------------------------- transcripts

extern const std::string EntryLookupLine;
// A fresh load up to the entry point call.
std::string ScanOpening(const std::string& request);
// Each fixture calls the host with audioMasterVersion right before it dies.
extern const std::string LastWords;
// CrashGood's whole answer, and CrashShell's when it lists its sub-plugin.
std::string GoodAnswer();
std::string ShellListingAnswer();

// ---------------------------------------------------------------- fixture

struct CrashDump : ::testing::Test
{
    testsupport::ScratchFolder scratch{L"crashdump"};
    std::wstring dumps = scratch / L"dumps";           // fresh, empty folder for this test's dumps
    std::wstring threadFile = scratch / L"thread.txt"; // where a fixture leaves the crashing thread's id
    std::wstring pluginName; // the module expected to crash
    std::wstring pluginPath; // its file, when not bin\plugins\<pluginName>.dll
    uint32_t expectedCode = 0xC0000005; // the fixtures' write to address 16
    bool faultAtPageStart = false;       // a write that ran into a guard page
    uint64_t before = 0;     // local time bracket around the crash
    uint64_t after = 0;

    void SetUp() override
    {
        SKIP_UNLESS_SERVER_RUNS();
        testsupport::MakeFolder(dumps);
        SetEnvironmentVariableW(testsupport::Wide(ThreadFileVariable).c_str(), threadFile.c_str());
    }

    testsupport::ServerOptions WithDumps(const std::wstring& folder) const
    {
        testsupport::ServerOptions options;
        options.passDumpFolder = true;
        options.dumpFolder = folder;
        return options;
    }

    void StartServer(testsupport::ServerProcess& server, const testsupport::ServerOptions& options)
    {
        ASSERT_TRUE(server.Start(options));
        ASSERT_EQ(server.ReadUntilReady(), Banner + "ready:\n");
    }

    // Sends a request that is expected to crash the server: returns every
    // byte the host received for it, and checks that no "ready:" follows
    // and that the process ends with exit code 9.
    std::string CrashingRequest(testsupport::ServerProcess& server, const std::string& line)
    {
        before = LocalNow();
        EXPECT_TRUE(server.Write(line + "\n"));
        bool ready = true;
        std::string answer = server.ReadUntilReady(DumpTimeout, &ready);
        EXPECT_FALSE(ready) << "the server answered instead of crashing";
        EXPECT_EQ(server.WaitExit(DumpTimeout), CrashExit);
        after = LocalNow();
        return MaskModuleHandles(answer);
    }

    // One scan of the fixture in a fresh server: the lines up to the crash
    // reach the host, the exit code is 9, and the folder holds its one dump.
    void CrashOnce(const wchar_t* fixture)
    {
        pluginName = fixture;
        testsupport::ServerProcess server;
        StartServer(server, WithDumps(dumps));
        std::string line = PluginLine(fixture);
        EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
        ExpectOneDump(dumps);
    }

    // The one dump in the folder: its name, time and streams.
    void ExpectOneDump(const std::wstring& folder)
    {
        std::vector<std::wstring> files = testsupport::ListFolder(folder);
        ASSERT_EQ(files.size(), 1u) << "dump files in the folder";
        ExpectDump(folder + L"\\" + files[0]);
    }

    void ExpectDump(const std::wstring& path)
    {
        std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        SYSTEMTIME stamp;
        ASSERT_TRUE(ParseDumpName(name, &stamp)) << testsupport::Utf8(name);
        uint64_t at = Ticks(stamp);
        // The name has whole seconds; one second of slack either side.
        EXPECT_GE(at + OneSecond, before - before % OneSecond) << testsupport::Utf8(name);
        EXPECT_LE(at, after + OneSecond) << testsupport::Utf8(name);

        Minidump dump = ParseMinidump(testsupport::ReadWholeFile(path));
        ASSERT_EQ(dump.error, "");
        ASSERT_TRUE(dump.hasException);
        // A normal dump: stacks and modules, not the whole memory (stream 9).
        EXPECT_EQ(std::count(dump.streamTypes.begin(), dump.streamTypes.end(), 9u), 0);

        std::vector<uint32_t> crashing = ReadThreadIds(threadFile);
        ASSERT_FALSE(crashing.empty()) << "the fixture left no thread id";
        EXPECT_NE(std::find(crashing.begin(), crashing.end(), dump.exceptionThread),
                  crashing.end())
            << "exception thread " << dump.exceptionThread;
        EXPECT_NE(std::find(dump.threads.begin(), dump.threads.end(), dump.exceptionThread),
                  dump.threads.end())
            << "the exception thread is missing from the thread list";

        EXPECT_EQ(dump.exceptionCode, expectedCode);
        if (expectedCode == 0xC0000005u)
        {
            ASSERT_GE(dump.exceptionInfo.size(), 2u);
            EXPECT_EQ(dump.exceptionInfo[0], 1u) << "a write access";
            if (faultAtPageStart)
                EXPECT_EQ(dump.exceptionInfo[1] % 4096, 0u) << "the faulting address";
            else
                EXPECT_EQ(dump.exceptionInfo[1], 16u) << "the faulting address";
        }

        std::wstring plugin = pluginPath.empty() ? testsupport::FixturePath(pluginName) : pluginPath;
        const DumpModule* module = nullptr;
        for (const DumpModule& m : dump.modules)
            if (SamePath(m.name, plugin))
                module = &m;
        ASSERT_NE(module, nullptr) << "no module named " << testsupport::Utf8(plugin);
        EXPECT_GE(dump.exceptionAddress, module->base);
        EXPECT_LT(dump.exceptionAddress, module->base + module->size)
            << "the crash lies outside the plugin";
    }
};
