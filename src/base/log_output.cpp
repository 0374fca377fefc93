#include "log_output.h"
#include "crash_flag.h"
#include "../exchange/exchange_text.h"

HANDLE OutputHandle;

static void WriteBytes(const char* bytes, int count)
{
    StopIfCrashing();
    DWORD written = 0;
    WriteFile(OutputHandle, bytes, (DWORD)count, &written, nullptr);
    FlushFileBuffers(OutputHandle);
}

// Null when memory runs out at any step: a line is made whole or not at all.
static CSharedStringA MakeTaggedLine(const char* tag, const wchar_t* format, va_list args)
{
    CSharedStringA line(tag, lstrlenA(tag));
    if (line.IsNull())
        return CSharedStringA();
    CSharedString message = FormatV(format, args);
    CSharedStringA text = ToUtf8(message);
    if (message.IsNull() || text.IsNull() || !line.Append(text, -1))
        return CSharedStringA();
    return line;
}

void WriteTaggedLine(const char* tag, const wchar_t* format, va_list args)
{
    // Out of memory: the line is dropped whole rather than written in part.
    CSharedStringA line = MakeTaggedLine(tag, format, args);
    if (!line.IsNull())
        WriteBytes(line.Chars(), line.Length());
}

#define DEFINE_LOG_ENTRY(Name, Tag)           \
    void Name(const wchar_t* format, ...)     \
    {                                         \
        va_list args;                         \
        va_start(args, format);               \
        WriteTaggedLine(Tag, format, args);   \
        va_end(args);                         \
    }

DEFINE_LOG_ENTRY(LogError, ExchangeText::ErrorTag)
DEFINE_LOG_ENTRY(LogWarn, ExchangeText::WarnTag)
DEFINE_LOG_ENTRY(LogInfo, ExchangeText::InfoTag)
DEFINE_LOG_ENTRY(LogReport, ExchangeText::ReportTag)

void LogLine(const char* start, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteTaggedLine(start, format, args);
    va_end(args);
}

bool AppendTaggedLineV(CSharedStringA& lines, const char* tag, const wchar_t* format, va_list args)
{
    CSharedStringA line = MakeTaggedLine(tag, format, args);
    return !line.IsNull() && lines.Append(line.Chars(), line.Length());
}

bool AppendTaggedLine(CSharedStringA& lines, const char* tag, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    bool added = AppendTaggedLineV(lines, tag, format, args);
    va_end(args);
    return added;
}

void WriteLines(const char* bytes, int count)
{
    int start = 0;
    for (int i = 0; i < count; i++)
    {
        if (bytes[i] != '\n')
            continue;
        WriteBytes(bytes + start, i + 1 - start);
        start = i + 1;
    }
    if (start < count)
        WriteBytes(bytes + start, count - start);
}

void WriteFixedLine(const char* first, const char* second, const char* third, const char* fourth)
{
    char line[256];
    int n = 0;
    const char* parts[] = {first, second, third, fourth};
    for (const char* part : parts)
        for (; part && *part && n < (int)sizeof line; part++)
            line[n++] = *part;
    WriteBytes(line, n);
}

CSharedStringA EscapeLineBreaks(const char* text)
{
    CSharedStringA result;
    if (!text || !result.WritableBuffer(0))
        return CSharedStringA();
    const char* run = text;
    for (const char* at = text;; at++)
    {
        if (*at != '\n' && *at != '\r' && *at != 0)
            continue;
        if (at > run && !result.Append(run, (int)(at - run)))
            return CSharedStringA();
        if (*at == 0)
            break;
        if (!result.Append(*at == '\n' ? "\\n" : "\\r", 2))
            return CSharedStringA();
        run = at + 1;
    }
    return result;
}
