#include "crash_support.h"
#include <string.h>
#include <algorithm>

using namespace testsupport;

const char* ThreadFileVariable = "CRASH_FIXTURE_THREAD_FILE";
const std::string EntryLookupLine = "info:Looking for entry point in module ";
const std::string LastWords = "info:Audio master callback: 1 - audioMasterVersion\n";

std::string PluginLine(const wchar_t* name)
{
    return Utf8(FixturePath(name));
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

std::wstring DumpNameAt(uint64_t ticks)
{
    FILETIME file = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    SYSTEMTIME t;
    FileTimeToSystemTime(&file, &t);
    wchar_t time[64];
    swprintf(time, 64, L"-%04u-%02u-%02u-%02u-%02u-%02u.mdmp", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return ServerTexts().dumpBaseName + std::wstring(time);
}

// "ZiveRivedo-x64-YYYY-MM-DD-HH-MM-SS.mdmp" (x86 for that server), every
// field with its digits.
bool ParseDumpName(const std::wstring& name, SYSTEMTIME* time)
{
    const std::wstring prefix = ServerTexts().dumpBaseName + std::wstring(L"-");
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

template <typename T>
static bool Read(const std::string& bytes, uint64_t at, T* value)
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

std::string ScanOpening(const std::string& request)
{
    return "info:Scanning plugin: '" + request + "'\n" + "info:Loading library...\n" +
           EntryLookupLine + "<module>\n" + "info:Found VSTPluginMain()\n" +
           "info:Calling entry point...\n";
}

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
           + PlatformLine() +
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
           + PlatformLine() +
           ">:  \"audio64\":   false,\n"
           ">:  \"category\":  10,\n"
           ">:  \"synthEdit\": false,\n"
           ">:  \"shells\": {\n"
           ">:        \"43525331\": \"Crash Sub\",\n"
           ">:  },\n"
           ">:}\n"
           "ready:\n";
}
