#include "desktop.h"

namespace testsupport {

bool HaveDisplay()
{
    return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
}

std::vector<HWND> TopLevelWindows(DWORD pid)
{
    struct Search
    {
        DWORD pid;
        std::vector<HWND> found;
    } search = {pid, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            Search* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (owner == s->pid && lstrcmpW(name, L"IME") != 0)
                s->found.push_back(window);
            return TRUE;
        },
        (LPARAM)&search);
    return search.found;
}

} // namespace testsupport
