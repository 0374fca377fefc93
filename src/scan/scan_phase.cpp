#include "scan_phase.h"
#include "../base/log_output.h"
#include "../crash/crash_dump.h"
#include "../exchange/exchange_text.h"

void EnterPhase(const wchar_t* phase)
{
    LogLine(ExchangeText::PhaseLine, L"%s\n", phase);
    SetUnhandledExceptionFilter(CrashFilter);
}

void RunGuarded(const wchar_t* phase, GuardedProc proc, void* argument)
{
    EnterPhase(phase);
    uint32_t code = CallGuarded(proc, argument);
    SetUnhandledExceptionFilter(CrashFilter);
    if (code != 0)
        LogLine(ExchangeText::SurvivedCrashLine, L"%s (%.8X), ignored\n", phase, code);
}
