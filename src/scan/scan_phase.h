// The steps of a VST3 or CLAP request that run plugin code, each announced
// with "info:Phase: NAME" (ExchangeText::PhaseLine) so that a host that
// sees the server crash or hang knows the step from the last such line.
#pragma once
#include "seh_guard.h"

// Writes the phase line and puts the server's crash filter back in place
// (a plugin may have put one of its own there since the last step).
void EnterPhase(const wchar_t* phase);
// A clean-up step that survives a crash, as effClose does for VST 2: the
// crash is logged as "warn:Crash in PHASE (CODE), ignored"
// (ExchangeText::SurvivedCrashLine) and the request goes on.
void RunGuarded(const wchar_t* phase, GuardedProc proc, void* argument);
