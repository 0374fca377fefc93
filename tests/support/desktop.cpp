#include "desktop.h"

namespace testsupport {

bool HaveDisplay()
{
    return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
}

namespace {

struct Search
{
    DWORD pid;
    std::vector<HWND> found;
};

// CALLBACK: a lambda would be __cdecl, which 32-bit Windows does not call.
BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    Search* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (owner == s->pid && lstrcmpW(name, L"IME") != 0)
        s->found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> TopLevelWindows(DWORD pid)
{
    Search search = {pid, {}};
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

} // namespace testsupport
