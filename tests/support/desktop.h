// The desktop a test runs on: whether windows can show at all, and the
// windows another process shows.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <vector>

namespace testsupport {

// Whether windows can show (./run starts an X display for the tests).
bool HaveDisplay();

// The top-level windows of a process, without the hidden input-method
// window that every GUI thread gets.
std::vector<HWND> TopLevelWindows(DWORD pid);

} // namespace testsupport
