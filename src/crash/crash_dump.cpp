#include "crash_dump.h"
#include "../app/server.h"
#include <dbghelp.h>

CSharedString DumpBaseName;
static CRITICAL_SECTION DumpLock;

typedef BOOL(WINAPI* MiniDumpWriteDumpProc)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                            PMINIDUMP_EXCEPTION_INFORMATION,
                                            PMINIDUMP_USER_STREAM_INFORMATION,
                                            PMINIDUMP_CALLBACK_INFORMATION);

void InstallCrashFilter()
{
    static bool lockReady;
    if (!lockReady)
    {
        InitializeCriticalSection(&DumpLock);
        lockReady = true;
    }
    DumpBaseName.Assign(L"ZiveRivedo-x64", 14);
    SetUnhandledExceptionFilter(CrashFilter);
}

bool FormatDumpPath(wchar_t* path, const wchar_t* folder, const wchar_t* baseName,
                    const SYSTEMTIME& time)
{
    return FormatInto(path, DumpPathCapacity, L"%s\\%s-%.4i-%.2i-%.2i-%.2i-%.2i-%.2i.mdmp", folder,
                      baseName, time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                      time.wSecond);
}

// Runs on whichever thread crashed. It allocates nothing of its own: the
// path lives on the stack and DbgHelp is loaded only now.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception)
{
    if (!DumpFolder.IsEmpty())
    {
        EnterCriticalSection(&DumpLock);
        HMODULE dbghelp = LoadLibraryW(L"DbgHelp.dll");
        MiniDumpWriteDumpProc writeDump =
            dbghelp ? (MiniDumpWriteDumpProc)(void*)GetProcAddress(dbghelp, "MiniDumpWriteDump")
                    : nullptr;
        if (!writeDump)
        {
            LeaveCriticalSection(&DumpLock);
            return EXCEPTION_CONTINUE_SEARCH;
        }
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t path[DumpPathCapacity];
        // A folder too long for the path buffer gets no dump; the process
        // still ends with the crash exit code.
        if (FormatDumpPath(path, DumpFolder, DumpBaseName, now))
        {
            HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
            {
                MINIDUMP_EXCEPTION_INFORMATION info;
                info.ThreadId = GetCurrentThreadId();
                info.ExceptionPointers = exception;
                info.ClientPointers = FALSE;
                writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                          &info, nullptr, nullptr);
                CloseHandle(file);
            }
        }
        // The process ends while the lock is still held, so a second thread
        // that crashed meanwhile can never start a second dump.
        TerminateProcess(GetCurrentProcess(), CrashExitCode);
        LeaveCriticalSection(&DumpLock);
        return 0;
    }
    TerminateProcess(GetCurrentProcess(), CrashExitCode);
    return 0;
}
