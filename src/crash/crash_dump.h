// The process-wide unhandled-exception filter: writes a normal minidump into
// DumpFolder and ends the process with ExchangeText::CrashExitCode (9).
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../base/crash_flag.h"

// Room for the dump path, terminator included; a longer path writes no dump.
const int DumpPathCapacity = 260;

// Stack kept back on the main thread for the filter after a stack overflow,
// and the stack of the thread that writes the dump after one.
const ULONG CrashStackReserve = 64 * 1024;
const SIZE_T DumpWriterStack = 1024 * 1024;

extern CSharedString DumpBaseName;
// Where dumps go; null or empty: no dump is written.
extern CSharedString DumpFolder;

// First action of the entry point: the dump lock, the base name, the filter.
void InstallCrashFilter();
// Hand this to SetUnhandledExceptionFilter around every stretch of plugin
// code, since a plugin may install a filter of its own.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);
// The last step of the shut-down: waits while a crash is being written, so
// the process ends with its dump and exit code 9 instead of exit code 0.
void WaitForCrashInProgress();
// Formats the dump file path for the given time into path (DumpPathCapacity
// characters); false when it does not fit.
bool FormatDumpPath(wchar_t* path, const wchar_t* folder, const wchar_t* baseName,
                    const SYSTEMTIME& time);
