#include "crash_flag.h"
#include "compat.h"

// Set as the filter starts, on whichever thread; never cleared.
static volatile LONG CrashStarted;

void MarkCrashStarted() { InterlockedExchange(&CrashStarted, 1); }

bool CrashHasStarted() { return CrashStarted != 0; }

void WaitForProcessEnd()
{
    for (;;)
        Sleep(INFINITE);
}

void StopIfCrashing()
{
    if (CrashHasStarted())
        WaitForProcessEnd();
}
