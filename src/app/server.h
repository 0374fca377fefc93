// Process-wide values of the server and its entry point. The other values
// ServerMain sets belong to the parts that use them: OutputHandle to the
// log writer, DumpFolder to the crash filter, SplashWindow to the badge.
#pragma once
#include "../base/compat.h"

extern HANDLE InputHandle; // requests come from here (null: no loop)

// Start-up, the request or message loop and shut-down; returns the exit code.
int ServerMain(HINSTANCE instance);
