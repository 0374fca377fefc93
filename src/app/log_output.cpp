#include "log_output.h"
#include "server.h"
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../crash/crash_dump.h"

void WriteTaggedLine(const char* tag, const wchar_t* format, va_list args)
{
    CSharedStringA line(tag, lstrlenA(tag));
    // Out of memory: the line is dropped whole rather than written in part.
    if (line.IsNull() || !line.Append(":", 1))
        return;
    bool built;
    {
        CSharedString message = FormatV(format, args);
        CSharedStringA text = ToUtf8(message);
        built = !message.IsNull() && !text.IsNull() && line.Append(text, -1);
    }
    if (!built)
        return;
    StopIfCrashing();
    DWORD written = 0;
    WriteFile(OutputHandle, line.Chars(), (DWORD)line.Length(), &written, nullptr);
    FlushFileBuffers(OutputHandle);
}

#define DEFINE_LOG_ENTRY(Name, Tag)           \
    void Name(const wchar_t* format, ...)     \
    {                                         \
        va_list args;                         \
        va_start(args, format);               \
        WriteTaggedLine(Tag, format, args);   \
        va_end(args);                         \
    }

DEFINE_LOG_ENTRY(LogError, "error")
DEFINE_LOG_ENTRY(LogWarn, "warn")
DEFINE_LOG_ENTRY(LogInfo, "info")
DEFINE_LOG_ENTRY(LogReport, ">")
