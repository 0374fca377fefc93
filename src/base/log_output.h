// The one writer of every output line except "ready:\n": tag, ":", the
// formatted UTF-8 text, written with one WriteFile and flushed at once.
// Formats are wide, with "%s" a wide string and "%S" an 8-bit one.
#pragma once
#include "compat.h"
#include <stdarg.h>

extern HANDLE OutputHandle; // every output line goes here

void WriteTaggedLine(const char* tag, const wchar_t* format, va_list args);
void LogError(const wchar_t* format, ...);
void LogWarn(const wchar_t* format, ...);
void LogInfo(const wchar_t* format, ...);
void LogReport(const wchar_t* format, ...);
