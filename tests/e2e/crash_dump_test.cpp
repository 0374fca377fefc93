// Crashes in plugin code through the real server: the crash fixtures die
// with an access violation at chosen points, and each case checks what the
// host sees (every line written before the crash, exit code 9) and the dump
// file itself, read back stream by stream.
#include "crash_support.h"
#include "processes.h"
#include <psapi.h>
#include <stdint.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// ------------------------------------------------------ where plugins die


TEST_F(CrashDump, InEntryPoint) { CrashOnce(L"CrashInEntry"); }

TEST_F(CrashDump, InDispatcherCall) { CrashOnce(L"CrashInDispatch"); }

// The dump's exception thread is the plugin's thread, not the scanning one.
TEST_F(CrashDump, OnThreadThePluginStarted) { CrashOnce(L"CrashOnThread"); }

// The fixture's own filter would end the process with 77 and no dump.
TEST_F(CrashDump, AfterPluginInstalledItsOwnFilter) { CrashOnce(L"CrashAfterOwnFilter"); }

// A stack overflow leaves the crashed thread almost no stack: the dump is
// still written (by a fresh thread, naming the crashed one) and the exit
// code is still 9.
TEST_F(CrashDump, StackOverflowInDispatcherCall)
{
    expectedCode = 0xC00000FD;
    CrashOnce(L"CrashStackOverflow");
}

// The same with frames of a tenth of a page: the last one ends at any
// point of a page, and the filter still has the stack it needs.
TEST_F(CrashDump, StackOverflowOfSmallFrames)
{
    expectedCode = 0xC00000FD;
    CrashOnce(L"CrashSmallFrames");
}

// Whichever thread got there first, its dump is the only one.
TEST_F(CrashDump, TwoThreadsCrashingTogetherWriteOneDump)
{
    CrashOnce(L"CrashTwoThreads");
    EXPECT_EQ(ReadThreadIds(threadFile).size(), 2u);
}

// ---------------------------------------------------- the dump folder

// The server's current folder is a fresh one for these cases, with a
// "(null)" folder in it: a filter that printed a missing folder as text, or
// an empty one as nothing, would write relative to it or to its root.
struct CrashWithoutDump : CrashDump
{
    std::wstring savedCurrent;
    std::wstring work;
    std::vector<std::wstring> rootDumpsBefore;

    static std::vector<std::wstring> RootDumps()
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        std::wstring pattern = L"\\" + std::wstring(ServerTexts().dumpBaseName) + L"-*";
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(data.cFileName);
        while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }

    void SetUp() override
    {
        CrashDump::SetUp();
        if (IsSkipped())
            return;
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        savedCurrent = current;
        work = dumps + L"\\work";
        ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((work + L"\\(null)").c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
        rootDumpsBefore = RootDumps();
    }

    void TearDown() override
    {
        SetCurrentDirectoryW(savedCurrent.c_str());
        CrashDump::TearDown();
    }

    void CrashWith(const ServerOptions& options)
    {
        pluginName = L"CrashInEntry";
        ServerProcess server;
        StartServer(server, options);
        std::string line = PluginLine(L"CrashInEntry");
        EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    }

    void ExpectNoDumpAnywhere()
    {
        EXPECT_EQ(ListFolder(dumps), std::vector<std::wstring>{L"work"});
        EXPECT_EQ(ListFolder(work), std::vector<std::wstring>{L"(null)"});
        EXPECT_TRUE(ListFolder(work + L"\\(null)").empty());
        EXPECT_EQ(RootDumps(), rootDumpsBefore);
    }
};

TEST_F(CrashWithoutDump, NoFolderArgument)
{
    CrashWith(ServerOptions());
    ExpectNoDumpAnywhere();
}

TEST_F(CrashWithoutDump, EmptyFolderArgument)
{
    CrashWith(WithDumps(L""));
    ExpectNoDumpAnywhere();
}

TEST_F(CrashWithoutDump, FolderThatDoesNotExist)
{
    std::wstring missing = dumps + L"\\missing";
    CrashWith(WithDumps(missing));
    EXPECT_FALSE(Exists(missing)) << "the filter must not create the folder";
    ExpectNoDumpAnywhere();
}

TEST_F(CrashDump, FolderWithTrailingBackslashStillGetsTheDump)
{
    pluginName = L"CrashInEntry";
    ServerOptions options;
    options.extraArgs = L" " + QuoteArgument(dumps + L"\\");
    ServerProcess server;
    StartServer(server, options);
    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(dumps);
}

// A folder whose dump path needs exactly N characters: the path buffer
// holds 259 and the terminator.
std::wstring NestedFolderOfLength(const std::wstring& base, size_t length)
{
    std::wstring folder = base;
    while (folder.size() + 1 < length)
    {
        size_t left = length - folder.size() - 1; // characters after the backslash
        // Parts of at most 100 characters, and never a last part of none.
        size_t part = left <= 100 ? left : (left - 100 < 2 ? 98 : 100);
        folder += L"\\" + std::wstring(part, L'd');
        if (!CreateDirectoryW(folder.c_str(), nullptr))
            return std::wstring();
    }
    return folder;
}

const size_t DumpNameWithSeparator = 40; // "\ZiveRivedo-x64-YYYY-MM-DD-HH-MM-SS.mdmp", x86 alike

TEST_F(CrashDump, PathOfTwoHundredFiftyNineCharactersGetsTheDump)
{
    pluginName = L"CrashInEntry";
    std::wstring folder = NestedFolderOfLength(dumps, 259 - DumpNameWithSeparator);
    ASSERT_EQ(folder.size(), 259 - DumpNameWithSeparator);
    ServerProcess server;
    StartServer(server, WithDumps(folder));
    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(folder);
}

TEST_F(CrashDump, PathTooLongForTheBufferWritesNoDump)
{
    pluginName = L"CrashInEntry";
    std::wstring folder = NestedFolderOfLength(dumps, 260 - DumpNameWithSeparator);
    ASSERT_EQ(folder.size(), 260 - DumpNameWithSeparator);
    ServerProcess server;
    StartServer(server, WithDumps(folder));
    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    EXPECT_TRUE(ListFolder(folder).empty());
}

TEST_F(CrashDump, FileOfTheSameNameIsReplaced)
{
    // Stale files under every name the crash can get within the next
    // minutes; the crash must overwrite exactly one of them.
    uint64_t start = LocalNow();
    const int Seconds = 180;
    std::vector<std::wstring> names;
    for (int i = -2; i < Seconds; i++)
    {
        names.push_back(DumpNameAt(start + (uint64_t)((int64_t)i * (int64_t)OneSecond)));
        WriteWholeFile(dumps + L"\\" + names.back(), "stale");
    }
    std::sort(names.begin(), names.end());

    pluginName = L"CrashInEntry";
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ASSERT_LT(after, start + (Seconds - 1) * OneSecond) << "crash outside the prepared names";

    EXPECT_EQ(ListFolder(dumps), names);
    std::vector<std::wstring> replaced;
    for (const std::wstring& name : names)
        if (ReadWholeFile(dumps + L"\\" + name) != "stale")
            replaced.push_back(name);
    ASSERT_EQ(replaced.size(), 1u);
    ExpectDump(dumps + L"\\" + replaced[0]);
}

// File names of the modules loaded in a running process, lower-cased.
// Through the process's module list, which lists a 32-bit server's modules
// to this 64-bit program too (Wine's tool-help snapshot does not).
std::vector<std::wstring> LoadedModules(DWORD pid)
{
    std::vector<std::wstring> names;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return names;
    HMODULE modules[1024];
    DWORD bytes = 0;
    if (EnumProcessModulesEx(process, modules, sizeof modules, &bytes, LIST_MODULES_ALL))
    {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; i++)
        {
            wchar_t name[MAX_PATH] = {};
            if (!GetModuleBaseNameW(process, modules[i], name, MAX_PATH))
                continue;
            CharLowerBuffW(name, lstrlenW(name));
            names.push_back(name);
        }
    }
    CloseHandle(process);
    return names;
}

TEST_F(CrashDump, DbgHelpIsLoadedOnlyWhenACrashHappens)
{
    pluginName = L"CrashInEntry";
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    EXPECT_EQ(MaskModuleHandles(server.Request(PluginLine(L"CrashGood"))), GoodAnswer());
    std::vector<std::wstring> idle = LoadedModules(server.ProcessId());
    std::wstring exe = ServerExePath();
    exe = exe.substr(exe.find_last_of(L"\\/") + 1);
    CharLowerBuffW(&exe[0], (DWORD)exe.size());
    ASSERT_NE(std::find(idle.begin(), idle.end(), exe), idle.end());
    EXPECT_EQ(std::find(idle.begin(), idle.end(), L"dbghelp.dll"), idle.end());

    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(dumps);
    // Loaded by its plain name, so from the system folder.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    Minidump dump = ParseMinidump(ReadWholeFile(dumps + L"\\" + ListFolder(dumps)[0]));
    bool found = false;
    std::string names;
    for (const DumpModule& module : dump.modules)
    {
        found = found || SamePath(module.name, std::wstring(system) + L"\\dbghelp.dll");
        names += " " + Utf8(module.name);
    }
    EXPECT_TRUE(found) << "no DbgHelp in the dump's module list:" << names;
}

// ----------------------------------------------- crashes mid-session

TEST_F(CrashDump, InSubPluginOfCachedShell)
{
    pluginName = L"CrashShell";
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    std::string shell = PluginLine(L"CrashShell");
    EXPECT_EQ(MaskModuleHandles(server.Request(shell)), ShellListingAnswer());

    char sub[16];
    snprintf(sub, sizeof sub, ">%08X", SubPluginId);
    EXPECT_EQ(CrashingRequest(server, shell + sub),
              "info:Scanning plugin: '" + shell + sub + "'\n" +
                  "info:Re-using previous library instance...\n" + EntryLookupLine +
                  "<module>\n" + "info:Found VSTPluginMain()\n" +
                  "info:Calling entry point...\n" +
                  "info:Audio master callback: 2 - audioMasterCurrentId\n" + LastWords);
    ExpectOneDump(dumps);
}

TEST_F(CrashDump, AfterTwentyGoodScans)
{
    pluginName = L"CrashInDispatch";
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(MaskModuleHandles(server.Request(PluginLine(L"CrashGood"))), GoodAnswer())
            << "scan " << i + 1;
    EXPECT_TRUE(ListFolder(dumps).empty());
    std::string line = PluginLine(L"CrashInDispatch");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(dumps);
}

TEST_F(CrashDump, HostRestartsServerAndGoesOn)
{
    pluginName = L"CrashInEntry";
    {
        ServerProcess server;
        StartServer(server, WithDumps(dumps));
        std::string line = PluginLine(L"CrashInEntry");
        EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    }
    ExpectOneDump(dumps);
    std::vector<std::wstring> dumpsAfterCrash = ListFolder(dumps);

    ServerProcess next;
    ASSERT_TRUE(next.Start(WithDumps(dumps)));
    EXPECT_EQ(next.ReadUntilReady(), Banner + "ready:\n");
    EXPECT_EQ(MaskModuleHandles(next.Request(PluginLine(L"CrashGood"))), GoodAnswer());
    next.CloseInput();
    EXPECT_EQ(next.ReadToEnd(), "");
    EXPECT_EQ(next.WaitExit(), 0u);
    EXPECT_EQ(ListFolder(dumps), dumpsAfterCrash);
}

} // namespace
