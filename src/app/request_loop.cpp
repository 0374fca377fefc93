#include "server.h"
#include "request_loop.h"
#include "../base/log_output.h"
#include "../base/hex_digits.h"
#include "../base/message_pump.h"
#include "../base/platform_name.h"
#include "../crash/crash_dump.h"
#include "../exchange/exchange_text.h"
#include "../scan/library_cache.h"
#include "../scan/scan_request.h"
#include "../splash/splash_window.h"
#include "../base/gdiplus_compat.h"
#include <shellapi.h>
#include <string.h>

HANDLE InputHandle;

static ULONG_PTR GdiplusToken;
static const int RequestBufferSize = 1024;

// Needs no memory: the host must get its "ready:" whatever happened.
static void WriteReady() { WriteFixedLine(ExchangeText::ReadyLine, "\n"); }

// The line ends at the first line feed or NUL, or at the end of the bytes.
static int LineLength(const char* bytes, int count)
{
    for (int i = 0; i < count; i++)
        if (bytes[i] == '\n' || bytes[i] == 0)
            return i;
    return count;
}

enum LineResult
{
    LineOk,
    LineTooLong,
    LineNoMemory
};

// A read that fills the whole buffer without a line feed holds only the
// start of a long line (Windows paths can be far longer than 1023 bytes).
// Reading on to the line feed keeps the exchange in step: the whole line is
// scanned, or, past MaxRequestBytes, skipped and answered with an error.
static LineResult ReadRestOfLine(const char* first, int firstCount, CSharedStringA& line)
{
    bool tooLong = false;
    bool noMemory = !line.Append(first, firstCount);
    char chunk[RequestBufferSize];
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(InputHandle, chunk, sizeof chunk, &got, nullptr) || got == 0)
            break; // the host closed the pipe mid-line: handle what came
        const char* end = (const char*)memchr(chunk, '\n', got);
        int take = end ? (int)(end - chunk) : (int)got;
        if (!tooLong && !noMemory)
        {
            if (line.Length() + take > MaxRequestBytes)
                tooLong = true;
            else if (!line.Append(chunk, take))
                noMemory = true;
        }
        if (end)
            break;
    }
    if (noMemory)
        return LineNoMemory;
    if (tooLong)
        return LineTooLong;
    // A NUL inside the assembled line ends it, as in a short line.
    int length = line.Length();
    char* chars = line.WritableBuffer(length);
    if (chars)
        chars[LineLength(chars, length)] = 0;
    return LineOk;
}

void RunRequestLoop()
{
    for (;;)
    {
        WriteReady();
        char buffer[RequestBufferSize];
        DWORD got = 0;
        if (!ReadFile(InputHandle, buffer, sizeof buffer, &got, nullptr) || got == 0)
            break;
        CSharedStringA line;
        LineResult result = LineOk;
        if (got == sizeof buffer && !memchr(buffer, '\n', got))
            result = ReadRestOfLine(buffer, (int)got, line);
        else
            line.Assign(buffer, LineLength(buffer, (int)got));
        PumpMessages();
        if (result == LineTooLong)
        {
            HandleOversizedRequest();
            continue;
        }
        if (line.IsNull() || result == LineNoMemory)
        {
            HandleScanRequest(nullptr);
            continue;
        }
        CSharedString request = FromUtf8(line);
        HandleScanRequest(request);
    }
}

static void RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int ServerMain(HINSTANCE instance)
{
    InstallCrashFilter();

    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    uint64_t input = argc > 1 ? ParseHexArgument(argv[1]) : 0;
    uint64_t output = argc > 2 ? ParseHexArgument(argv[2]) : 0;
    uint64_t parent = argc > 3 ? ParseHexArgument(argv[3]) : 0;
    if (argc > 4 && argv[4][0])
        DumpFolder.Assign(argv[4], lstrlenW(argv[4]));
    LocalFree(argv);

    Gdiplus::GdiplusStartupInput startup; // version 1, no debug callback
    GdiplusStartup(&GdiplusToken, &startup, nullptr);

    InputHandle = (HANDLE)(uintptr_t)input;
    OutputHandle = output ? (HANDLE)(uintptr_t)output : GetStdHandle(STD_OUTPUT_HANDLE);

    CreateSplashWindow(instance, (HWND)(uintptr_t)parent);
    LogInfo(SERVER_BANNER_W);

    if (input)
    {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        RunRequestLoop();
    }
    else
    {
        RunMessageLoop();
    }

    FlushLibraryCache();
    DestroyWindow(SplashWindow);
    Gdiplus::GdiplusShutdown(GdiplusToken);
    WaitForCrashInProgress();
    return 0;
}
