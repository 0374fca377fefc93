#include "server_process/dialog_windows.h"
#include "orvanta/text.h"
#include <windows.h>

namespace orvanta {
namespace {

const wchar_t BadgeClass[] = L"OrvantaScanServer";

std::wstring ClassOf(HWND window)
{
    wchar_t name[256];
    int n = GetClassNameW(window, name, 256);
    return std::wstring(name, n > 0 ? n : 0);
}

std::wstring TextOf(HWND window)
{
    // GetWindowTextW reads another process's window text without sending it
    // a message, so a hung server cannot block this.
    int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return {};
    std::wstring text(length + 1, L'\0');
    int n = GetWindowTextW(window, &text[0], length + 1);
    text.resize(n > 0 ? n : 0);
    return text;
}

struct Search
{
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) != BadgeClass)
        search->windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK OnChild(HWND child, LPARAM param)
{
    std::vector<HWND>* children = reinterpret_cast<std::vector<HWND>*>(param);
    children->push_back(child);
    return TRUE;
}

} // namespace

std::vector<DialogWindow> DialogWindowsOf(uint32_t processId)
{
    Search search{processId, {}};
    EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
    std::vector<DialogWindow> found;
    for (HWND window : search.windows)
    {
        DialogWindow dialog;
        dialog.title = ToUtf8(TextOf(window));
        std::vector<HWND> children;
        EnumChildWindows(window, OnChild, reinterpret_cast<LPARAM>(&children));
        for (HWND child : children)
        {
            // Button captions ("OK", "Cancel") say nothing about why the
            // plugin waits; the message is in the static and edit controls.
            if (!IsWindowVisible(child) || lstrcmpiW(ClassOf(child).c_str(), L"Button") == 0)
                continue;
            std::string text = ToUtf8(TextOf(child));
            if (text.empty())
                continue;
            if (!dialog.text.empty())
                dialog.text += "\n";
            dialog.text += text;
        }
        found.push_back(dialog);
    }
    return found;
}

std::string DialogText(const std::vector<DialogWindow>& windows)
{
    std::string out;
    for (const DialogWindow& w : windows)
    {
        std::string body = w.text;
        for (char& c : body)
        {
            if (c == '\n' || c == '\r')
                c = ' ';
        }
        std::string one = w.title;
        if (!body.empty())
            one += (one.empty() ? "" : ": ") + body;
        if (one.empty())
            one = "(untitled window)";
        out += (out.empty() ? "'" : ", '") + one + "'";
    }
    return out;
}

} // namespace orvanta
