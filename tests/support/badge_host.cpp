// Plays the host for the badge screenshot test: shows a borderless window of
// a known colour over the bottom-right corner of the screen, starts the real
// scan server with that window on its command line, describes the server's
// badge window, and holds everything still until the test has looked.
//   badgehost SYNC_FOLDER
// Writes SYNC_FOLDER\ready once the server has answered "ready:" and waits
// (pumping its own window's messages) for SYNC_FOLDER\done; then sends one
// request, closes the request pipe and reports the server's exit code.
// Without a display it goes on without its own window.
#include "desktop.h"
#include "files.h"
#include "pipe_host.h"
#include "text.h"
#include <shellapi.h>
#include <stdio.h>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const COLORREF Background = RGB(230, 180, 40);
const int HostX = 1400, HostY = 600, HostWidth = 520, HostHeight = 480;

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

HWND MakeHostWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(Background);
    windowClass.lpszClassName = L"BadgeTestHost";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"BadgeTestHost", L"Badge test host", WS_POPUP | WS_VISIBLE,
                                  HostX, HostY, HostWidth, HostHeight, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window)
        UpdateWindow(window);
    return window;
}

std::string Describe(HWND badge)
{
    wchar_t className[64] = {}, title[64] = {};
    GetClassNameW(badge, className, 64);
    GetWindowTextW(badge, title, 64);
    RECT r = {};
    GetWindowRect(badge, &r);
    char text[400];
    snprintf(text, sizeof text,
             "class \"%s\" title \"%s\" rect %ld,%ld,%ld,%ld exstyle %08lx style %08lx visible %d",
             Utf8(className).c_str(), Utf8(title).c_str(), r.left, r.top, r.right,
             r.bottom, (unsigned long)GetWindowLongPtrW(badge, GWL_EXSTYLE),
             (unsigned long)GetWindowLongPtrW(badge, GWL_STYLE), IsWindowVisible(badge) ? 1 : 0);
    return text;
}

std::string Escaped(const std::string& bytes)
{
    std::string out;
    for (char c : bytes)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

} // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2)
    {
        fprintf(stderr, "usage: badgehost SYNC_FOLDER\n");
        return 2;
    }
    std::wstring sync = argv[1];
    if (sync.back() != L'\\')
        sync += L'\\';

    HWND host = MakeHostWindow();
    if (host)
        printf("host window: %d,%d %dx%d colour %02x%02x%02x\n", HostX, HostY, HostWidth,
               HostHeight, GetRValue(Background), GetGValue(Background), GetBValue(Background));
    else
        printf("host window: none (error %lu)\n", GetLastError());
    PumpFor(100);

    ServerProcess server;
    ServerOptions options;
    options.hostWindow = HexHandle(host);
    if (!server.Start(options))
    {
        printf("server: cannot start (error %lu)\n", GetLastError());
        return 1;
    }
    std::string greeting;
    bool ready = false;
    for (int i = 0; i < 600 && !ready; i++)
    {
        greeting += server.ReadUntilReady(50, &ready);
        PumpFor(0);
    }
    printf("server: %s\n", Escaped(greeting).c_str());

    std::vector<HWND> windows = TopLevelWindows(server.ProcessId());
    printf("server windows: %u\n", (unsigned)windows.size());
    for (HWND w : windows)
        printf("badge: %s\n", Describe(w).c_str());
    fflush(stdout);

    HANDLE mark = CreateFileW((sync + L"ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    CloseHandle(mark);
    DWORD start = GetTickCount();
    while (!Exists(sync + L"done") && GetTickCount() - start < 180000)
        PumpFor(50);

    std::string answer = server.Request("Z:\\no\\such\\plugin.dll");
    printf("request answered: %s\n", answer.size() >= 7 && answer.substr(answer.size() - 7) ==
                                              "ready:\n" ? "yes" : "no");
    server.CloseInput();
    std::string rest = server.ReadToEnd();
    printf("after close: \"%s\"\n", Escaped(rest).c_str());
    printf("exit code: %lu\n", server.WaitExit());
    if (host)
        DestroyWindow(host);
    return 0;
}
