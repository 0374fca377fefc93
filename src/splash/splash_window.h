// The "Scanning..." badge: a layered, topmost tool window in the
// bottom-right corner of the work area of the monitor that shows the host.
#pragma once
#include "../base/compat.h"

extern HWND SplashWindow; // the badge, null when it could not be made

void CreateSplashWindow(HINSTANCE instance, HWND referenceWindow);
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
