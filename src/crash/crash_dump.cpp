#include "crash_dump.h"
#include "../base/platform_name.h"
#include "../exchange/exchange_text.h"
#include <dbghelp.h>

CSharedString DumpBaseName;
CSharedString DumpFolder;
static CRITICAL_SECTION DumpLock;
static bool LockReady;

typedef BOOL(WINAPI* MiniDumpWriteDumpProc)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                            PMINIDUMP_EXCEPTION_INFORMATION,
                                            PMINIDUMP_USER_STREAM_INFORMATION,
                                            PMINIDUMP_CALLBACK_INFORMATION);

// Wine commits the whole stack with one guard page at its bottom and raises
// the overflow only there, whatever the guarantee says: the filter then gets
// the few hundred to few thousand bytes the plugin's last frame happened to
// leave, and when they are not enough the process ends with exit code 0.
// A guard page at the top of the kept-back part makes the overflow come
// there, with the whole reserve below it. Where the page is not committed
// yet (Windows grows the stack page by page) it is left alone.
static void GuardStackReserve()
{
    MEMORY_BASIC_INFORMATION stack;
    if (VirtualQuery(&stack, &stack, sizeof stack) != sizeof stack)
        return;
    char* page = (char*)stack.AllocationBase + CrashStackReserve;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(page, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        info.AllocationBase != stack.AllocationBase || (info.Protect & PAGE_GUARD))
        return;
    DWORD old = 0;
    VirtualProtect(page, 1, PAGE_READWRITE | PAGE_GUARD, &old);
}

void InstallCrashFilter()
{
    if (!LockReady)
    {
        InitializeCriticalSection(&DumpLock);
        LockReady = true;
    }
    DumpBaseName.Assign(DUMP_BASE_NAME_W, (int)(sizeof DUMP_BASE_NAME_W / sizeof(wchar_t)) - 1);
    // A plugin that overflows the stack leaves the filter only what the
    // system keeps back; writing a dump needs more than its default.
    ULONG reserve = CrashStackReserve;
    SetThreadStackGuarantee(&reserve);
    GuardStackReserve();
    SetUnhandledExceptionFilter(CrashFilter);
}

bool FormatDumpPath(wchar_t* path, const wchar_t* folder, const wchar_t* baseName,
                    const SYSTEMTIME& time)
{
    return FormatInto(path, DumpPathCapacity, L"%s\\%s-%.4i-%.2i-%.2i-%.2i-%.2i-%.2i.mdmp", folder,
                      baseName, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                      time.wSecond);
}

struct DumpRequest
{
    EXCEPTION_POINTERS* exception;
    DWORD threadId;   // the thread that crashed
    bool noDbgHelp;   // DbgHelp or its export is missing
};

static void WriteDump(DumpRequest* request)
{
    HMODULE dbghelp = LoadLibraryW(L"DbgHelp.dll");
    MiniDumpWriteDumpProc writeDump =
        dbghelp ? (MiniDumpWriteDumpProc)(void*)GetProcAddress(dbghelp, "MiniDumpWriteDump")
                : nullptr;
    if (!writeDump)
    {
        request->noDbgHelp = true;
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t path[DumpPathCapacity];
    // A folder too long for the path buffer gets no dump; the process still
    // ends with the crash exit code.
    if (!FormatDumpPath(path, DumpFolder, DumpBaseName, now))
        return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    MINIDUMP_EXCEPTION_INFORMATION info;
    info.ThreadId = request->threadId;
    info.ExceptionPointers = request->exception;
    info.ClientPointers = FALSE;
    writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr,
              nullptr);
    CloseHandle(file);
}

static DWORD WINAPI DumpWriterThread(void* request)
{
    WriteDump(static_cast<DumpRequest*>(request));
    return 0;
}

// Runs on whichever thread crashed. It allocates nothing of its own: the
// path lives on the stack and DbgHelp is loaded only now.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception)
{
    MarkCrashStarted();
    if (!DumpFolder.IsEmpty())
    {
        EnterCriticalSection(&DumpLock);
        DumpRequest request = {exception, GetCurrentThreadId(), false};
        // After a stack overflow the crashed thread has too little stack
        // left to load DbgHelp and write a dump: a fresh thread writes it,
        // naming the crashed thread, while this one waits.
        HANDLE writer = nullptr;
        if (exception && exception->ExceptionRecord &&
            exception->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
            writer = CreateThread(nullptr, DumpWriterStack, DumpWriterThread, &request, 0, nullptr);
        if (writer)
        {
            WaitForSingleObject(writer, INFINITE);
            CloseHandle(writer);
        }
        else
            WriteDump(&request);
        if (request.noDbgHelp)
        {
            LeaveCriticalSection(&DumpLock);
            return EXCEPTION_CONTINUE_SEARCH;
        }
        // The process ends while the lock is still held, so a second thread
        // that crashed meanwhile can never start a second dump.
        TerminateProcess(GetCurrentProcess(), (UINT)ExchangeText::CrashExitCode);
        LeaveCriticalSection(&DumpLock);
        return 0;
    }
    TerminateProcess(GetCurrentProcess(), (UINT)ExchangeText::CrashExitCode);
    return 0;
}

void WaitForCrashInProgress()
{
    if (!LockReady)
        return;
    EnterCriticalSection(&DumpLock);
    // The filter that set the flag may not have the lock yet: let it have
    // it, and its dump, and the end of the process.
    if (CrashHasStarted())
    {
        LeaveCriticalSection(&DumpLock);
        WaitForProcessEnd();
    }
    // Held until the process ends: a crash from now on blocks in the filter
    // and leaves no half-written dump behind.
}
