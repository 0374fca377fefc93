// Crashes in plugin code through the real server: the crash fixtures die
// with an access violation at chosen points, and each case checks what the
// host sees (every line written before the crash, exit code 9) and the dump
// file itself, read back stream by stream.
#include "scan_support.h"
#include <tlhelp32.h>
#include <stdint.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD CrashExit = 9;
const char* ThreadFileVariable = "CRASH_FIXTURE_THREAD_FILE";
const uint32_t SubPluginId = 0x43525331; // what CrashShell lists

std::wstring PluginPath(const wchar_t* name)
{
    return ExeFolder() + L"plugins\\" + name + L".dll";
}

std::string PluginLine(const wchar_t* name)
{
    return WideToUtf8(PluginPath(name));
}

// ---------------------------------------------------------------- files

// Decimal thread ids, one per line, as the fixtures write them.
std::vector<uint32_t> ReadThreadIds(const std::wstring& path)
{
    std::vector<uint32_t> ids;
    std::string text = ReadWholeFile(path);
    uint32_t value = 0;
    bool any = false;
    for (char c : text)
    {
        if (c >= '0' && c <= '9')
        {
            value = value * 10 + (uint32_t)(c - '0');
            any = true;
        }
        else if (c == '\n' && any)
        {
            ids.push_back(value);
            value = 0;
            any = false;
        }
    }
    return ids;
}

// ----------------------------------------------------------------- time

// Local time as 100 ns ticks, for comparing with the time in a dump name.
uint64_t Ticks(const SYSTEMTIME& time)
{
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file))
        return 0;
    return ((uint64_t)file.dwHighDateTime << 32) | file.dwLowDateTime;
}

uint64_t LocalNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Ticks(now);
}

const uint64_t OneSecond = 10000000;

std::wstring DumpNameAt(uint64_t ticks)
{
    FILETIME file = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    SYSTEMTIME t;
    FileTimeToSystemTime(&file, &t);
    wchar_t name[64];
    swprintf(name, 64, L"ZiveRivedo-x64-%04u-%02u-%02u-%02u-%02u-%02u.mdmp", t.wYear, t.wMonth,
             t.wDay, t.wHour, t.wMinute, t.wSecond);
    return name;
}

// "ZiveRivedo-x64-YYYY-MM-DD-HH-MM-SS.mdmp", every field with its digits.
bool ParseDumpName(const std::wstring& name, SYSTEMTIME* time)
{
    const std::wstring prefix = L"ZiveRivedo-x64-";
    const std::wstring pattern = L"####-##-##-##-##-##.mdmp";
    if (name.size() != prefix.size() + pattern.size() || name.compare(0, prefix.size(), prefix))
        return false;
    for (size_t i = 0; i < pattern.size(); i++)
    {
        wchar_t c = name[prefix.size() + i];
        if (pattern[i] == L'#' ? !(c >= L'0' && c <= L'9') : c != pattern[i])
            return false;
    }
    const wchar_t* p = name.c_str() + prefix.size();
    auto number = [&](int at, int digits) {
        int value = 0;
        for (int i = 0; i < digits; i++)
            value = value * 10 + (p[at + i] - L'0');
        return (WORD)value;
    };
    *time = SYSTEMTIME();
    time->wYear = number(0, 4);
    time->wMonth = number(5, 2);
    time->wDay = number(8, 2);
    time->wHour = number(11, 2);
    time->wMinute = number(14, 2);
    time->wSecond = number(17, 2);
    return true;
}

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

template <typename T>
bool Read(const std::string& bytes, uint64_t at, T* value)
{
    if (at + sizeof(T) > bytes.size())
        return false;
    memcpy(value, bytes.data() + at, sizeof(T));
    return true;
}

// Reads the header, the stream directory and the thread list (3), module
// list (4) and exception (6) streams, with the record layouts of the
// minidump file format.
Minidump ParseMinidump(const std::string& bytes)
{
    Minidump dump;
    uint32_t signature = 0, version = 0, count = 0, directory = 0;
    if (!Read(bytes, 0, &signature) || signature != 0x504D444D) // "MDMP"
    {
        dump.error = "no MDMP signature";
        return dump;
    }
    Read(bytes, 4, &version);
    if ((version & 0xFFFF) != 0xA793)
    {
        dump.error = "wrong format version";
        return dump;
    }
    if (!Read(bytes, 8, &count) || !Read(bytes, 12, &directory) || count == 0 ||
        directory + (uint64_t)count * 12 > bytes.size())
    {
        dump.error = "stream directory outside the file";
        return dump;
    }
    dump.streamCount = count;
    for (uint32_t i = 0; i < count; i++)
    {
        uint32_t type = 0, size = 0, rva = 0;
        uint64_t entry = directory + (uint64_t)i * 12;
        Read(bytes, entry, &type);
        Read(bytes, entry + 4, &size);
        Read(bytes, entry + 8, &rva);
        dump.streamTypes.push_back(type);
        if ((uint64_t)rva + size > bytes.size())
        {
            dump.error = "stream " + std::to_string(type) + " outside the file";
            return dump;
        }
        if (type == 3) // ThreadListStream: count, then 48-byte thread records
        {
            uint32_t threads = 0;
            Read(bytes, rva, &threads);
            if (4 + (uint64_t)threads * 48 > size)
            {
                dump.error = "thread list overruns its stream";
                return dump;
            }
            for (uint32_t t = 0; t < threads; t++)
            {
                uint32_t id = 0;
                Read(bytes, rva + 4 + (uint64_t)t * 48, &id);
                dump.threads.push_back(id);
            }
        }
        else if (type == 4) // ModuleListStream: count, then 108-byte module records
        {
            uint32_t modules = 0;
            Read(bytes, rva, &modules);
            if (4 + (uint64_t)modules * 108 > size)
            {
                dump.error = "module list overruns its stream";
                return dump;
            }
            for (uint32_t m = 0; m < modules; m++)
            {
                uint64_t record = rva + 4 + (uint64_t)m * 108;
                DumpModule module;
                uint32_t nameRva = 0, nameBytes = 0;
                Read(bytes, record, &module.base);
                Read(bytes, record + 8, &module.size);
                Read(bytes, record + 20, &nameRva);
                if (!Read(bytes, nameRva, &nameBytes) || nameRva + 4 + (uint64_t)nameBytes > bytes.size())
                {
                    dump.error = "module name outside the file";
                    return dump;
                }
                module.name.assign((const wchar_t*)(bytes.data() + nameRva + 4), nameBytes / 2);
                dump.modules.push_back(module);
            }
        }
        else if (type == 6) // ExceptionStream
        {
            uint32_t parameters = 0;
            if (size < 168)
            {
                dump.error = "exception stream too short";
                return dump;
            }
            dump.hasException = true;
            Read(bytes, rva, &dump.exceptionThread);
            Read(bytes, rva + 8, &dump.exceptionCode);
            Read(bytes, rva + 24, &dump.exceptionAddress);
            Read(bytes, rva + 32, &parameters);
            for (uint32_t p = 0; p < parameters && p < 15; p++)
            {
                uint64_t value = 0;
                Read(bytes, rva + 40 + (uint64_t)p * 8, &value);
                dump.exceptionInfo.push_back(value);
            }
        }
    }
    return dump;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) ==
           CSTR_EQUAL;
}

// ----------------------------------------------------------- transcripts

const std::string EntryLookupLine = "info:Looking for entry point in module ";

std::string ScanOpening(const std::string& request)
{
    return "info:Scanning plugin: '" + request + "'\n" + "info:Loading library...\n" +
           EntryLookupLine + "<module>\n" + "info:Found VSTPluginMain()\n" +
           "info:Calling entry point...\n";
}

// Each fixture calls the host with audioMasterVersion right before it dies.
const std::string LastWords = "info:Audio master callback: 1 - audioMasterVersion\n";

std::string GoodAnswer()
{
    return ScanOpening(PluginLine(L"CrashGood")) +
           "info:Dispatching effClose...\n"
           "info:Freeing library...\n"
           "info:Finished\n"
           ">:{\n"
           ">:  \"id\":        \"43724764\",\n"
           ">:  \"name\":      \"Steady Crash Fixture\",\n"
           ">:  \"vendor\":    \"Crash Fixtures\",\n"
           ">:  \"product\":   \"Crash Suite\",\n"
           ">:  \"version\":   \"1.0.0.0\",\n"
           ">:  \"error\":     \"\",\n"
           ">:  \"numInputs\": 2,\n"
           ">:  \"numOutputs\":2,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           ">:  \"platform\":  \"x64\",\n"
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  1,\n"
           ">:  \"synthEdit\": false,\n"
           ">:}\n"
           "ready:\n";
}

std::string ShellListingAnswer()
{
    return ScanOpening(PluginLine(L"CrashShell")) +
           "info:Audio master callback: 2 - audioMasterCurrentId\n"
           "info:Found shell: 43525331 - Crash Sub\n"
           "info:Dispatching effClose...\n"
           "info:Keeping shell library loaded for now...\n"
           "info:Finished\n"
           ">:{\n"
           ">:  \"id\":        \"43724378\",\n"
           ">:  \"name\":      \"Crash Shell\",\n"
           ">:  \"vendor\":    \"Crash Fixtures\",\n"
           ">:  \"product\":   \"Crash Suite\",\n"
           ">:  \"version\":   \"1.0.0.0\",\n"
           ">:  \"error\":     \"\",\n"
           ">:  \"numInputs\": 2,\n"
           ">:  \"numOutputs\":2,\n"
           ">:  \"wantsMidi\":  false,\n"
           ">:  \"sendsMidi\": false,\n"
           ">:  \"platform\":  \"x64\",\n"
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  10,\n"
           ">:  \"synthEdit\": false,\n"
           ">:  \"shells\": {\n"
           ">:        \"43525331\": \"Crash Sub\",\n"
           ">:  },\n"
           ">:}\n"
           "ready:\n";
}

// Quotes one command-line argument so that CommandLineToArgvW gives back
// exactly its text, trailing backslashes included.
std::wstring QuoteArgument(const std::wstring& text)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text)
    {
        if (c == L'\\')
        {
            backslashes++;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// ---------------------------------------------------------------- fixture

struct CrashDump : ::testing::Test
{
    std::wstring dumps;      // fresh, empty folder for this test's dumps
    std::wstring threadFile; // where a fixture leaves the crashing thread's id
    std::wstring pluginName; // the module expected to crash
    uint32_t expectedCode = 0xC0000005; // the fixtures' write to address 16
    uint64_t before = 0;     // local time bracket around the crash
    uint64_t after = 0;

    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int counter;
        wchar_t unique[96];
        swprintf(unique, 96, L"crashdump-%lu-%d-%lu", GetCurrentProcessId(), ++counter,
                 GetTickCount());
        std::wstring base = std::wstring(temp) + unique;
        dumps = base + L"-dumps";
        threadFile = base + L"-thread.txt";
        ASSERT_TRUE(CreateDirectoryW(dumps.c_str(), nullptr));
        SetEnvironmentVariableW(Utf8ToWide(ThreadFileVariable).c_str(), threadFile.c_str());
    }

    void TearDown() override
    {
        RemoveTree(dumps);
        DeleteFileW(threadFile.c_str());
    }

    ServerOptions WithDumps(const std::wstring& folder) const
    {
        ServerOptions options;
        options.passDumpFolder = true;
        options.dumpFolder = folder;
        return options;
    }

    void StartServer(ServerProcess& server, const ServerOptions& options)
    {
        ASSERT_TRUE(server.Start(options));
        ASSERT_EQ(server.ReadUntilReady(), Banner + Ready);
    }

    // Sends a request that is expected to crash the server: returns every
    // byte the host received for it, and checks that no "ready:" follows
    // and that the process ends with exit code 9.
    std::string CrashingRequest(ServerProcess& server, const std::string& line)
    {
        before = LocalNow();
        EXPECT_TRUE(server.Write(line + "\n"));
        bool ready = true;
        std::string answer = server.ReadUntilReady(20000, &ready);
        EXPECT_FALSE(ready) << "the server answered instead of crashing";
        // DbgHelp under Wine takes 6 to 20 s for the dump on a quiet machine
        // and far longer on a busy one: wait well past that.
        EXPECT_EQ(server.WaitExit(90000), CrashExit);
        after = LocalNow();
        return MaskModuleHandles(answer);
    }

    void CrashOnce(const wchar_t* fixture);

    // The one dump in the folder: its name, time and streams.
    void ExpectOneDump(const std::wstring& folder)
    {
        std::vector<std::wstring> files = ListFolder(folder);
        ASSERT_EQ(files.size(), 1u) << "dump files in the folder";
        ExpectDump(folder + L"\\" + files[0]);
    }

    void ExpectDump(const std::wstring& path)
    {
        std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        SYSTEMTIME stamp;
        ASSERT_TRUE(ParseDumpName(name, &stamp)) << WideToUtf8(name);
        uint64_t at = Ticks(stamp);
        // The name has whole seconds; one second of slack either side.
        EXPECT_GE(at + OneSecond, before - before % OneSecond) << WideToUtf8(name);
        EXPECT_LE(at, after + OneSecond) << WideToUtf8(name);

        Minidump dump = ParseMinidump(ReadWholeFile(path));
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
            EXPECT_EQ(dump.exceptionInfo[1], 16u) << "the faulting address";
        }

        std::wstring plugin = PluginPath(pluginName.c_str());
        const DumpModule* module = nullptr;
        for (const DumpModule& m : dump.modules)
            if (SamePath(m.name, plugin))
                module = &m;
        ASSERT_NE(module, nullptr) << "no module named " << WideToUtf8(plugin);
        EXPECT_GE(dump.exceptionAddress, module->base);
        EXPECT_LT(dump.exceptionAddress, module->base + module->size)
            << "the crash lies outside the plugin";
    }
};

// ------------------------------------------------------ where plugins die

// One scan of the fixture in a fresh server: the lines up to the crash
// reach the host, the exit code is 9, and the folder holds its one dump.
void CrashDump::CrashOnce(const wchar_t* fixture)
{
    pluginName = fixture;
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    std::string line = PluginLine(fixture);
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(dumps);
}

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
        HANDLE find = FindFirstFileW(L"\\ZiveRivedo-x64-*", &data);
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

const size_t DumpNameWithSeparator = 40; // "\ZiveRivedo-x64-YYYY-MM-DD-HH-MM-SS.mdmp"

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
        ASSERT_TRUE(WriteWholeFile(dumps + L"\\" + names.back(), "stale"));
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
std::vector<std::wstring> LoadedModules(DWORD pid)
{
    std::vector<std::wstring> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    MODULEENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Module32FirstW(snapshot, &entry); ok; ok = Module32NextW(snapshot, &entry))
    {
        std::wstring name = entry.szModule;
        CharLowerBuffW(&name[0], (DWORD)name.size());
        names.push_back(name);
    }
    CloseHandle(snapshot);
    return names;
}

TEST_F(CrashDump, DbgHelpIsLoadedOnlyWhenACrashHappens)
{
    pluginName = L"CrashInEntry";
    ServerProcess server;
    StartServer(server, WithDumps(dumps));
    EXPECT_EQ(MaskModuleHandles(server.Request(PluginLine(L"CrashGood"))), GoodAnswer());
    std::vector<std::wstring> idle = LoadedModules(server.ProcessId());
    ASSERT_NE(std::find(idle.begin(), idle.end(), L"scanserver.exe"), idle.end());
    EXPECT_EQ(std::find(idle.begin(), idle.end(), L"dbghelp.dll"), idle.end());

    std::string line = PluginLine(L"CrashInEntry");
    EXPECT_EQ(CrashingRequest(server, line), ScanOpening(line) + LastWords);
    ExpectOneDump(dumps);
    // Loaded by its plain name, so from the system folder.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    Minidump dump = ParseMinidump(ReadWholeFile(dumps + L"\\" + ListFolder(dumps)[0]));
    bool found = false;
    for (const DumpModule& module : dump.modules)
        found = found || SamePath(module.name, std::wstring(system) + L"\\dbghelp.dll");
    EXPECT_TRUE(found) << "no DbgHelp in the dump's module list";
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
    EXPECT_EQ(next.ReadUntilReady(), Banner + Ready);
    EXPECT_EQ(MaskModuleHandles(next.Request(PluginLine(L"CrashGood"))), GoodAnswer());
    next.CloseInput();
    EXPECT_EQ(next.ReadToEnd(), "");
    EXPECT_EQ(next.WaitExit(), 0u);
    EXPECT_EQ(ListFolder(dumps), dumpsAfterCrash);
}

} // namespace
