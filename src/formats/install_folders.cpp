#include "formats/install_folders.h"
#include <windows.h>

namespace orvanta {

std::wstring EnvironmentText(const wchar_t* name)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return L"";
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

std::wstring FolderBelow(const wchar_t* variable, const wchar_t* sub)
{
    std::wstring base = EnvironmentText(variable);
    return base.empty() ? L"" : base + L"\\" + sub;
}

std::wstring TrimmedFolder(const std::wstring& text)
{
    size_t begin = text.find_first_not_of(L" \t\"");
    if (begin == std::wstring::npos)
        return L"";
    size_t end = text.find_last_not_of(L" \t\"");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::wstring> FolderList(const wchar_t* variable)
{
    std::vector<std::wstring> folders;
    std::wstring list = EnvironmentText(variable);
    size_t start = 0;
    while (start <= list.size())
    {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos)
            end = list.size();
        std::wstring folder = TrimmedFolder(list.substr(start, end - start));
        if (!folder.empty())
            folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

} // namespace orvanta
