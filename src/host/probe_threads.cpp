#include "probe_threads.h"
#include "../base/compat.h"

static volatile LONG RunningProbe; // 0 between probes
static LONG LastProbe;
static volatile DWORD ProbeThreadId;
static DWORD BirthIndex = TLS_OUT_OF_INDEXES; // per thread: the probe it was born in

// A TLS callback of the program runs on every new thread before its start
// routine, plugin threads included, with either compiler.
static void NTAPI NoteThreadStart(PVOID, DWORD reason, PVOID)
{
    if (reason == DLL_PROCESS_ATTACH && BirthIndex == TLS_OUT_OF_INDEXES)
        BirthIndex = TlsAlloc();
    else if (reason == DLL_THREAD_ATTACH && BirthIndex != TLS_OUT_OF_INDEXES)
        TlsSetValue(BirthIndex, (void*)(intptr_t)RunningProbe);
}

#ifdef _MSC_VER
// C names carry a leading underscore on x86.
#if defined(_M_IX86)
#pragma comment(linker, "/INCLUDE:__tls_used")
#pragma comment(linker, "/INCLUDE:_ThreadStartCallback")
#else
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:ThreadStartCallback")
#endif
#pragma const_seg(".CRT$XLB")
extern "C" const PIMAGE_TLS_CALLBACK ThreadStartCallback = NoteThreadStart;
#pragma const_seg()
#else
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK ThreadStartCallback = NoteThreadStart;
#endif

void BeginProbe()
{
    // Threads started before the index existed read 0: born outside a probe.
    if (BirthIndex == TLS_OUT_OF_INDEXES)
        BirthIndex = TlsAlloc();
    ProbeThreadId = GetCurrentThreadId();
    LONG number = LastProbe + 1;
    if (number <= 0)
        number = 1;
    LastProbe = number;
    InterlockedExchange(&RunningProbe, number);
}

void EndProbe() { InterlockedExchange(&RunningProbe, 0); }

bool CallBelongsToProbe()
{
    LONG running = RunningProbe;
    if (running == 0)
        return false;
    if (GetCurrentThreadId() == ProbeThreadId)
        return true;
    if (BirthIndex == TLS_OUT_OF_INDEXES)
        return false;
    // TlsGetValue clears the last error; a plugin may be keeping one.
    DWORD lastError = GetLastError();
    bool born = (LONG)(intptr_t)TlsGetValue(BirthIndex) == running;
    SetLastError(lastError);
    return born;
}
