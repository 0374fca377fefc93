// Process-wide values of the server and the entry point's pieces.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include <stdint.h>

extern HANDLE InputHandle;          // requests come from here (null: no loop)
extern HANDLE OutputHandle;         // every output line goes here
extern CSharedString DumpFolder;    // crash dump folder, null when none given
extern HWND SplashWindow;           // the badge, null when it could not be made

// The longest request line the server assembles when a line does not fit
// in one read; longer lines are answered with an error report.
const int MaxRequestBytes = 128 * 1024;

// Digits 0-9, a-f, A-F up to the first other character; the last 16 count.
uint64_t ParseHexArgument(const wchar_t* text);
// 0 to 15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(wchar_t c);
// Dispatches the window messages that are waiting (no TranslateMessage).
void PumpMessages();
// Start-up, the request or message loop and shut-down; returns the exit code.
int ServerMain(HINSTANCE instance);
