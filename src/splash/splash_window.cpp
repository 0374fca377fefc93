#include "splash_window.h"
#include "png_bitmap.h"

HWND SplashWindow;

namespace {

const wchar_t ClassName[] = L"OrvantaScanServer";
const wchar_t Title[] = L"Orvanta Scan Server";
const DWORD ExStyle = WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
const int EdgeGap = 10;

// The picture, kept for the life of the process.
HBITMAP SplashBitmap;

// Right and bottom edge of the work area of the window's monitor (task bars
// excluded), or of the primary screen when no monitor answers.
void WorkAreaCorner(HWND window, LONG& right, LONG& bottom)
{
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (monitor && GetMonitorInfoW(monitor, &info))
    {
        right = info.rcWork.right;
        bottom = info.rcWork.bottom;
        return;
    }
    right = GetSystemMetrics(SM_CXSCREEN);
    bottom = GetSystemMetrics(SM_CYSCREEN);
}

void ShowPicture(HWND window, HBITMAP picture, SIZE size)
{
    HDC screen = CreateDCW(L"display", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, picture);
    POINT origin = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(window, nullptr, nullptr, &size, memory, &origin, 0, &blend, ULW_ALPHA);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteDC(screen);
}

} // namespace

void CreateSplashWindow(HINSTANCE instance, HWND referenceWindow)
{
    if (!referenceWindow)
        referenceWindow = GetForegroundWindow();

    // Without its picture there is no badge at all: a layered window that
    // never gets an image stays invisible, and the server serves the same
    // without it. SplashWindow then stays null, which the activation and the
    // final DestroyWindow accept quietly.
    SplashBitmap = LoadPngBitmap(instance);
    BITMAP picture;
    if (!SplashBitmap || !GetObjectW(SplashBitmap, sizeof picture, &picture))
        return;
    SIZE size = {picture.bmWidth, picture.bmHeight};

    LONG right = 0, bottom = 0;
    WorkAreaCorner(referenceWindow, right, bottom);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SplashWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = ClassName;
    RegisterClassW(&windowClass);

    // Not clamped: the corner of the work area alone decides.
    int x = right - size.cx - EdgeGap;
    int y = bottom - size.cy - EdgeGap;
    // Owned by the desktop rather than the host, so the host's minimising
    // or closing does not take the badge with it.
    SplashWindow = CreateWindowExW(ExStyle, ClassName, Title, WS_POPUP | WS_VISIBLE, x, y,
                                   size.cx, size.cy, GetDesktopWindow(), nullptr, nullptr,
                                   nullptr);
    // Without a display no window can be made; the server goes on without.
    if (!SplashWindow)
        return;
    ShowPicture(SplashWindow, SplashBitmap, size);
    SetActiveWindow(SplashWindow);
}

// Every point of the badge acts as a caption: a left-button drag moves it.
// No painting: the layered update keeps the picture on screen.
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCHITTEST)
        return HTCAPTION;
    return DefWindowProcW(window, message, wParam, lParam);
}
