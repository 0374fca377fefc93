#include "scan_phase.h"
#include "../base/log_output.h"
#include "../crash/crash_dump.h"

void EnterPhase(const wchar_t* phase)
{
    LogInfo(L"Phase: %s\n", phase);
    SetUnhandledExceptionFilter(CrashFilter);
}

void RunGuarded(const wchar_t* phase, GuardedProc proc, void* argument)
{
    EnterPhase(phase);
    uint32_t code = CallGuarded(proc, argument);
    SetUnhandledExceptionFilter(CrashFilter);
    if (code != 0)
        LogWarn(L"Crash in %s (%.8X), ignored\n", phase, code);
}
