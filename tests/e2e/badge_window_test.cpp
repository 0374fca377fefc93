// The badge window of the real server, seen from another process the way
// the desktop sees it: its class, title and styles, its place in the corner
// of the work area, its answer to hit tests and a mouse drag. The pixels on
// screen are checked by tests/badge_screenshot.sh.
#include "desktop.h"
#include "scan_support.h"
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT WorkAreaOf(HWND window)
{
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

// An ordinary framed window in the top-left part of the screen, standing in
// for the host's main window.
struct HostWindow
{
    HWND window = nullptr;
    HostWindow()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"BadgeWindowTestHost";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"BadgeWindowTestHost", L"Host", WS_OVERLAPPEDWINDOW, 100,
                                 100, 500, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
        // Shown without taking the focus from a drag in another test.
        if (window)
            ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    ~HostWindow()
    {
        if (window)
            DestroyWindow(window);
    }
};

// The server in its message-loop mode (no request pipe), which keeps
// dispatching the badge's messages; ended by a quit message to its thread.
struct IdleServer
{
    ServerProcess server;
    HWND badge = nullptr;
    bool Start(const std::wstring& hostWindow)
    {
        ServerOptions options;
        options.passInput = false;
        options.hostWindow = hostWindow;
        if (!server.Start(options))
            return false;
        // The banner follows the badge's creation, and no "ready:" comes.
        bool ready = true;
        std::string out;
        for (int i = 0; i < 200 && out.size() < Banner.size(); i++)
            out += server.ReadUntilReady(50, &ready);
        EXPECT_EQ(out, Banner);
        std::vector<HWND> windows = TopLevelWindows(server.ProcessId());
        EXPECT_EQ(windows.size(), 1u);
        badge = windows.empty() ? nullptr : windows[0];
        return badge != nullptr;
    }
    void Quit()
    {
        PostThreadMessageW(GetWindowThreadProcessId(badge, nullptr), WM_QUIT, 0, 0);
        EXPECT_EQ(server.WaitExit(), 0u);
    }
};

TEST(Badge, StandsInTheWorkAreaCornerOfTheHostWindowsMonitor)
{
    SKIP_UNLESS_SERVER_RUNS();
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the server runs without a badge (Badge.AbsentWithoutDisplay)";
    HostWindow host;
    ASSERT_NE(host.window, nullptr);
    ServerProcess server;
    ServerOptions options;
    options.hostWindow = HexHandle(host.window);
    ASSERT_TRUE(server.Start(options));
    ASSERT_EQ(server.ReadUntilReady(), Banner + Ready);

    std::vector<HWND> windows = TopLevelWindows(server.ProcessId());
    ASSERT_EQ(windows.size(), 1u);
    HWND badge = windows[0];
    EXPECT_EQ(ClassOf(badge), L"OrvantaScanServer");
    wchar_t title[64] = {};
    GetWindowTextW(badge, title, 64);
    EXPECT_STREQ(title, L"Orvanta Scan Server");
    EXPECT_EQ(GetWindowLongPtrW(badge, GWL_EXSTYLE),
              (LONG_PTR)(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST));
    // No frame, no caption; top-level windows always clip their siblings.
    EXPECT_EQ(GetWindowLongPtrW(badge, GWL_STYLE),
              (LONG_PTR)(WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS));
    EXPECT_TRUE(IsWindowVisible(badge));

    RECT work = WorkAreaOf(host.window);
    RECT r = {};
    GetWindowRect(badge, &r);
    EXPECT_EQ(r.right - r.left, 120);
    EXPECT_EQ(r.bottom - r.top, 120);
    EXPECT_EQ(r.left, work.right - 130);
    EXPECT_EQ(r.top, work.bottom - 130);

    // It does not stand in the way of serving, and goes with the server.
    std::string answer = server.Request("Z:\\no\\such\\plugin.dll");
    EXPECT_EQ(answer.substr(answer.size() - 7), "ready:\n");
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
    EXPECT_FALSE(IsWindow(badge));
}

TEST(Badge, WithoutHostWindowTheForegroundWindowsMonitorDecides)
{
    SKIP_UNLESS_SERVER_RUNS();
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the server runs without a badge (Badge.AbsentWithoutDisplay)";
    IdleServer idle;
    ASSERT_TRUE(idle.Start(L"0"));
    RECT work = WorkAreaOf(GetForegroundWindow());
    RECT r = {};
    GetWindowRect(idle.badge, &r);
    EXPECT_EQ(r.left, work.right - 130);
    EXPECT_EQ(r.top, work.bottom - 130);
    EXPECT_EQ(r.right, work.right - 10);
    EXPECT_EQ(r.bottom, work.bottom - 10);
    idle.Quit();
}

TEST(Badge, EveryPointIsCaptionAndOtherMessagesGoToTheDefault)
{
    SKIP_UNLESS_SERVER_RUNS();
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the server runs without a badge (Badge.AbsentWithoutDisplay)";
    IdleServer idle;
    ASSERT_TRUE(idle.Start(L"0"));
    RECT r = {};
    GetWindowRect(idle.badge, &r);
    // Opaque emblem, half-transparent square, fully transparent corner.
    const POINT points[] = {{r.left + 60, r.top + 47}, {r.left + 4, r.top + 60}, {r.left, r.top},
                            {r.right - 1, r.bottom - 1}};
    for (POINT p : points)
    {
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(idle.badge, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y),
                                        SMTO_ABORTIFHUNG, 10000, &result));
        EXPECT_EQ(result, (DWORD_PTR)HTCAPTION) << "at " << p.x << "," << p.y;
    }
    // The default procedure answers the rest: the title comes back.
    wchar_t title[64] = {};
    DWORD_PTR length = 0;
    ASSERT_TRUE(SendMessageTimeoutW(idle.badge, WM_GETTEXT, 64, (LPARAM)title, SMTO_ABORTIFHUNG,
                                    10000, &length));
    EXPECT_EQ(length, 19u);
    EXPECT_STREQ(title, L"Orvanta Scan Server");
    idle.Quit();
}

void MouseTo(int x, int y, DWORD buttons = 0)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    SendInput(1, &input, sizeof input);
}

TEST(Badge, LeftButtonDragMovesIt)
{
    SKIP_UNLESS_SERVER_RUNS();
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the server runs without a badge (Badge.AbsentWithoutDisplay)";
    IdleServer idle;
    ASSERT_TRUE(idle.Start(L"0"));
    // Away from the corner, where the badges of other servers may stand.
    ASSERT_TRUE(SetWindowPos(idle.badge, nullptr, 300, 200, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE));
    // Grab it on a transparent corner pixel: the whole square is caption.
    // The server moves the window in its own time, so each step waits for
    // the one before to show.
    DWORD thread = GetWindowThreadProcessId(idle.badge, nullptr);
    auto waitFor = [&](int left, int top, bool moving) {
        RECT r = {};
        for (int i = 0; i < 400; i++)
        {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            GetGUIThreadInfo(thread, &info);
            GetWindowRect(idle.badge, &r);
            if (r.left == left && r.top == top && !!(info.flags & GUI_INMOVESIZE) == moving)
                break;
            Sleep(25);
        }
        return r;
    };
    MouseTo(302, 203);
    MouseTo(302, 203, MOUSEEVENTF_LEFTDOWN);
    waitFor(300, 200, true);
    for (int step = 1; step <= 5; step++)
    {
        MouseTo(302 + 20 * step, 203 + 10 * step);
        RECT r = waitFor(300 + 20 * step, 200 + 10 * step, true);
        ASSERT_EQ(r.left, 300 + 20 * step) << "step " << step;
    }
    MouseTo(402, 253, MOUSEEVENTF_LEFTUP);
    RECT r = waitFor(400, 250, false);
    EXPECT_EQ(r.left, 400);
    EXPECT_EQ(r.top, 250);
    EXPECT_EQ(r.right - r.left, 120);
    idle.Quit();
}

TEST(Badge, AbsentWithoutDisplay)
{
    SKIP_UNLESS_SERVER_RUNS();
    if (HaveDisplay())
        GTEST_SKIP() << "a display is present (tests/badge_screenshot.sh runs a server without)";
    ServerProcess server;
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(server.ReadUntilReady(), Banner + Ready);
    EXPECT_TRUE(TopLevelWindows(server.ProcessId()).empty());
    std::string answer = server.Request("Z:\\no\\such\\plugin.dll");
    EXPECT_EQ(answer.substr(answer.size() - 7), "ready:\n");
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
