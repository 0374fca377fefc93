// Prints, every INTERVAL milliseconds, how many handles each running process
// of the given names holds, read from the system's handle table (under Wine
// GetProcessHandleCount reads 0 for another process). One line per process
// and sample: "MILLISECONDS NAME PID HANDLES"; "MILLISECONDS - - -1" when the
// table cannot be read. Ends when its standard input closes.
//   handle_count INTERVAL NAME...
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// The extended handle table entry: one per open handle in the system.
struct HandleEntry
{
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable
{
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

const ULONG SystemExtendedHandleInformation = 64;
const LONG StatusInfoLengthMismatch = (LONG)0xC0000004;
typedef LONG(WINAPI* QuerySystemFn)(ULONG, void*, ULONG, ULONG*);

// Handles per process id, or false when the table cannot be read.
bool CountHandles(std::map<DWORD, size_t>* counts)
{
    static QuerySystemFn query =
        (QuerySystemFn)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    static std::vector<char> buffer(1 << 20);
    if (!query)
        return false;
    for (int tries = 0; tries < 8; tries++)
    {
        ULONG needed = 0;
        LONG status = query(SystemExtendedHandleInformation, buffer.data(), (ULONG)buffer.size(), &needed);
        if (status == StatusInfoLengthMismatch)
        {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status < 0)
            return false;
        const HandleTable* table = (const HandleTable*)buffer.data();
        for (ULONG_PTR i = 0; i < table->count; i++)
            (*counts)[(DWORD)table->entries[i].processId]++;
        return true;
    }
    return false;
}

DWORD WINAPI EndWithInput(void*)
{
    char byte[256];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), byte, sizeof byte, &got, nullptr) && got)
    {
    }
    ExitProcess(0);
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3)
    {
        fprintf(stderr, "usage: handle_count INTERVAL NAME...\n");
        return 2;
    }
    DWORD interval = (DWORD)_wtoi(argv[1]);
    std::vector<std::wstring> names(argv + 2, argv + argc);
    CreateThread(nullptr, 0, EndWithInput, nullptr, 0, nullptr);
    ULONGLONG start = GetTickCount64();
    for (;;)
    {
        ULONGLONG ms = GetTickCount64() - start;
        std::map<DWORD, size_t> counts;
        if (!CountHandles(&counts))
            printf("%llu - - -1\n", ms);
        else
        {
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32W entry = {};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            {
                for (const std::wstring& name : names)
                {
                    if (lstrcmpiW(entry.szExeFile, name.c_str()) == 0)
                        printf("%llu %ls %lu %zu\n", ms, entry.szExeFile, entry.th32ProcessID,
                               counts[entry.th32ProcessID]);
                }
            }
            CloseHandle(snapshot);
        }
        fflush(stdout);
        Sleep(interval);
    }
}
