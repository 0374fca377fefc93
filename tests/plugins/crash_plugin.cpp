// Crash fixtures: real VST 2 plugin DLLs that die with an access violation
// at a chosen point of the scan, so the server's crash filter has real
// crashes to write dumps of. CRASH_MODE picks the variant at build time.
//
// The two overrun variants write as many bytes as the environment variable
// CRASH_FIXTURE_OVERRUN_BYTES says (decimal), one at a time from their own
// code, so a write that faults does so at an address inside the plugin.
//
// Before it crashes, a variant writes the id of the thread that is about to
// die (two ids for the two-thread variant, one per line) into the file named
// by the environment variable CRASH_FIXTURE_THREAD_FILE, so a test can
// compare it with the exception thread recorded in the dump. Right before
// the crash it calls the host with audioMasterVersion, so the last line the
// server writes comes from inside the crashing call.
#include "host/vst2_abi.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CRASH_NONE 0          // a well-behaved effect: the control plugin
#define CRASH_IN_ENTRY 1      // inside VSTPluginMain
#define CRASH_IN_DISPATCH 2   // inside effGetEffectName
#define CRASH_ON_THREAD 3     // on a thread the entry point starts and waits for
#define CRASH_AFTER_FILTER 4  // installs its own filter in the entry point, dies later
#define CRASH_TWO_THREADS 5   // two threads released by one event die together
#define CRASH_SHELL 6         // a shell that dies when its sub-plugin is built
#define CRASH_STACK_OVERFLOW 7 // endless recursion inside effGetEffectName
#define CRASH_OVERRUN_NAME 8   // writes past the effGetEffectName buffer
#define CRASH_OVERRUN_SHELL 9  // writes past a sub-plugin name buffer
#define CRASH_LATER_ON_THREAD 10 // a thread it leaves running dies 200 ms after effClose
#define CRASH_SMALL_FRAMES 11  // endless recursion of small frames inside effGetEffectName

#ifndef CRASH_MODE
#error CRASH_MODE must be defined
#endif

namespace {

const int32_t GoodId = 0x43724764;  // "CrGd"
const int32_t CrashId = 0x43724378; // "CrCx"
const int32_t SubPluginId = 0x43525331; // "CRS1"

AudioMasterCallback Host;
AEffect Effect;
int32_t ShellIdAsked;  // what audioMasterCurrentId answered in the entry point
int ShellListed;       // sub-plugins handed out by effShellGetNextPlugin

// An address the compiler cannot prove invalid, so the write stays a write.
volatile uintptr_t CrashAddress = 16;

[[maybe_unused]] void Crash()
{
    *(volatile int*)CrashAddress = 1;
}

[[maybe_unused]] void CrashNow()
{
    if (Host)
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
    Crash();
}

// Writes the given thread ids, one per line, where the test looks for them.
[[maybe_unused]] void WriteThreadIds(const DWORD* ids, int count)
{
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(L"CRASH_FIXTURE_THREAD_FILE", path, 1024);
    if (n == 0 || n >= 1024)
        return;
    char text[64] = "";
    int used = 0;
    for (int i = 0; i < count; i++)
        used += snprintf(text + used, sizeof text - used, "%lu\n", (unsigned long)ids[i]);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)used, &written, nullptr);
    CloseHandle(file);
}

[[maybe_unused]] void WriteThisThreadId()
{
    DWORD id = GetCurrentThreadId();
    WriteThreadIds(&id, 1);
}

[[maybe_unused]] void CopyText(void* ptr, const char* text)
{
    if (ptr)
        strcpy((char*)ptr, text);
}

#if CRASH_MODE == CRASH_ON_THREAD
DWORD WINAPI CrashingThread(void*)
{
    Crash();
    return 0;
}

void CrashOnOwnThread()
{
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, CrashingThread, nullptr, CREATE_SUSPENDED, &id);
    if (!thread)
        return;
    WriteThreadIds(&id, 1);
    if (Host)
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
}
#endif

#if CRASH_MODE == CRASH_OVERRUN_NAME || CRASH_MODE == CRASH_OVERRUN_SHELL
int OverrunBytes()
{
    char text[32];
    DWORD n = GetEnvironmentVariableA("CRASH_FIXTURE_OVERRUN_BYTES", text, sizeof text);
    if (n == 0 || n >= sizeof text)
        return 0;
    return atoi(text);
}

// No terminator: the bytes are all the plugin writes.
void Overrun(void* ptr, char letter)
{
    WriteThisThreadId();
    if (Host)
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
    volatile char* out = (volatile char*)ptr;
    int count = OverrunBytes();
    for (int i = 0; i < count; i++)
        out[i] = letter;
}
#endif

#if CRASH_MODE == CRASH_LATER_ON_THREAD
HANDLE Closed;

DWORD WINAPI CrashAfterClose(void*)
{
    WaitForSingleObject(Closed, INFINITE);
    Sleep(200);
    WriteThisThreadId();
    Crash();
    return 0;
}

// The module keeps a reference of its own, so the server's FreeLibrary
// leaves its code in place for the thread.
void LeaveThreadBehind()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void*)&CrashAfterClose,
                       &self);
    Closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, CrashAfterClose, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}
#endif

#if CRASH_MODE == CRASH_TWO_THREADS
HANDLE StartSignal;

DWORD WINAPI WaitThenCrash(void*)
{
    WaitForSingleObject(StartSignal, INFINITE);
    Crash();
    return 0;
}

// Both threads wait on one manual-reset event, so one SetEvent lets them
// run into the access violation together, in whatever order.
void CrashOnTwoThreads()
{
    StartSignal = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    DWORD ids[2];
    for (int i = 0; i < 2; i++)
    {
        threads[i] = CreateThread(nullptr, 0, WaitThenCrash, nullptr, 0, &ids[i]);
        if (!threads[i])
            return;
    }
    WriteThreadIds(ids, 2);
    if (Host)
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
    SetEvent(StartSignal);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
}
#endif

#if CRASH_MODE == CRASH_AFTER_FILTER
// Stands for a plugin that routes crashes to its own reporter: it ends the
// process with a code of its own, so a test sees who handled the crash.
LONG WINAPI PluginOwnFilter(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), 77);
    return EXCEPTION_CONTINUE_SEARCH;
}
#endif

#if CRASH_MODE == CRASH_SMALL_FRAMES
// Frames of about 100 bytes: the overflow comes wherever in a page the
// last one happens to end.
__attribute__((noinline)) int RecurseSmall(volatile char* previous, int depth)
{
    volatile char frame[64];
    frame[0] = (char)depth;
    frame[sizeof frame - 1] = previous ? previous[0] : 0;
    if (CrashAddress != 0)
        return RecurseSmall(frame, depth + 1) + frame[1];
    return frame[2];
}
#endif

#if CRASH_MODE == CRASH_STACK_OVERFLOW
// Each call keeps a page of stack busy until the stack runs out.
__attribute__((noinline)) int Recurse(volatile char* previous, int depth)
{
    volatile char frame[4096];
    frame[0] = (char)depth;
    frame[sizeof frame - 1] = previous ? previous[0] : 0;
    if (CrashAddress != 0)
        return Recurse(frame, depth + 1) + frame[1];
    return frame[2];
}
#endif

intptr_t Dispatch(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float)
{
    switch (opcode)
    {
    case effGetEffectName:
#if CRASH_MODE == CRASH_IN_DISPATCH || CRASH_MODE == CRASH_AFTER_FILTER
        WriteThisThreadId();
        CrashNow();
#elif CRASH_MODE == CRASH_STACK_OVERFLOW
        WriteThisThreadId();
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
        Recurse(nullptr, 0);
#elif CRASH_MODE == CRASH_SMALL_FRAMES
        WriteThisThreadId();
        Host(&Effect, audioMasterVersion, 0, 0, nullptr, 0.0f);
        RecurseSmall(nullptr, 0);
#elif CRASH_MODE == CRASH_SHELL
        if (ShellIdAsked != 0)
        {
            WriteThisThreadId();
            CrashNow();
        }
        CopyText(ptr, "Crash Shell");
        return 1;
#elif CRASH_MODE == CRASH_OVERRUN_NAME
        Overrun(ptr, 'x');
        return 1;
#endif
        CopyText(ptr, CRASH_MODE == CRASH_NONE ? "Steady Crash Fixture" : "Crash Fixture");
        return 1;
    case effGetVendorString:
        CopyText(ptr, "Crash Fixtures");
        return 1;
    case effGetProductString:
        CopyText(ptr, "Crash Suite");
        return 1;
    case effGetPlugCategory:
        if (CRASH_MODE == CRASH_OVERRUN_SHELL)
            return kPlugCategShell;
        return CRASH_MODE == CRASH_SHELL && ShellIdAsked == 0 ? kPlugCategShell : kPlugCategEffect;
    case effGetVendorVersion:
        return 1000;
    case effCanDo:
        return -1;
    case effShellGetNextPlugin:
#if CRASH_MODE == CRASH_OVERRUN_SHELL
        if (ShellListed++ == 0)
        {
            Overrun(ptr, 'y');
            return SubPluginId;
        }
#endif
        if (CRASH_MODE == CRASH_SHELL && ShellListed++ == 0)
        {
            CopyText(ptr, "Crash Sub");
            return SubPluginId;
        }
        return 0;
#if CRASH_MODE == CRASH_LATER_ON_THREAD
    case effClose:
        SetEvent(Closed);
        return 0;
#endif
    default:
        return 0;
    }
}

} // namespace

extern "C" __declspec(dllexport) AEffect* VSTPluginMain(AudioMasterCallback host)
{
    Host = host;
    memset(&Effect, 0, sizeof Effect);
    Effect.magic = kEffectMagic;
    Effect.dispatcher = Dispatch;
    Effect.numInputs = 2;
    Effect.numOutputs = 2;
    Effect.uniqueID = CRASH_MODE == CRASH_NONE ? GoodId : CrashId;
    Effect.version = 1;
    ShellListed = 0;
#if CRASH_MODE == CRASH_IN_ENTRY
    WriteThisThreadId();
    CrashNow();
#elif CRASH_MODE == CRASH_ON_THREAD
    CrashOnOwnThread();
#elif CRASH_MODE == CRASH_TWO_THREADS
    CrashOnTwoThreads();
#elif CRASH_MODE == CRASH_AFTER_FILTER
    SetUnhandledExceptionFilter(PluginOwnFilter);
#elif CRASH_MODE == CRASH_SHELL
    ShellIdAsked = (int32_t)host(&Effect, audioMasterCurrentId, 0, 0, nullptr, 0.0f);
#elif CRASH_MODE == CRASH_LATER_ON_THREAD
    LeaveThreadBehind();
#endif
    return &Effect;
}
