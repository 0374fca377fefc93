// The one writer of every output line: a tag of the exchange (colon
// included, ExchangeText's), the formatted UTF-8 text, written with one
// WriteFile and flushed at once. Formats are wide, with "%s" a wide string
// and "%S" an 8-bit one.
#pragma once
#include "compat.h"
#include "shared_string.h"
#include <stdarg.h>

extern HANDLE OutputHandle; // every output line goes here

void WriteTaggedLine(const char* tag, const wchar_t* format, va_list args);
void LogError(const wchar_t* format, ...);
void LogWarn(const wchar_t* format, ...);
void LogInfo(const wchar_t* format, ...);
void LogReport(const wchar_t* format, ...);
// A log line that starts with start, a tag or the start of a line a host
// looks for (ExchangeText::PhaseLine), then the formatted text.
void LogLine(const char* start, const wchar_t* format, ...);

// Appends one tagged line to lines (tag with its colon, as above), to be
// written later with WriteLines; false, with lines as they were, when
// memory runs out.
bool AppendTaggedLine(CSharedStringA& lines, const char* tag, const wchar_t* format, ...);
bool AppendTaggedLineV(CSharedStringA& lines, const char* tag, const wchar_t* format, va_list args);
// Writes count bytes of whole lines, each with its own WriteFile and flush.
void WriteLines(const char* bytes, int count);
// Writes the parts as one line without allocating anything: for the answer
// that must go out when memory has run out. At most 256 bytes are written.
void WriteFixedLine(const char* first, const char* second = "", const char* third = "",
                    const char* fourth = "");

// A plugin's text made fit for the middle of a log line: each line feed and
// carriage return becomes the two characters "\n" or "\r", so the text can
// never end the line and make the host read a line the server did not write;
// every other byte stays as it is. Null for a null text or out of memory.
CSharedStringA EscapeLineBreaks(const char* text);
