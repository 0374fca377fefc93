// One rule for module paths: made full, then compared ordinally without
// regard to letter case, as the file system compares names.
#include "orvanta/paths.h"
#include <windows.h>

namespace orvanta {

std::wstring FullPath(const std::wstring& path)
{
    if (path.empty())
        return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (n == 0 || n >= full.size())
        return path;
    full.resize(n);
    for (wchar_t& c : full)
    {
        if (c == L'/')
            c = L'\\';
    }
    // A folder named with a trailing backslash is the same folder; a drive's
    // root keeps its own.
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return full;
}

std::wstring FoldCase(const std::wstring& full)
{
    if (full.empty())
        return full;
    // The invariant upper-case mapping, letter by letter: the one the file
    // system's case-insensitive names follow, whatever the user's locale.
    std::wstring key(full.size(), L'\0');
    int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.data(), (int)full.size(),
                          &key[0], (int)key.size(), nullptr, nullptr, 0);
    if (n <= 0)
    {
        key = full;
        CharUpperBuffW(&key[0], (DWORD)key.size());
        return key;
    }
    key.resize(n);
    return key;
}

std::wstring PathKey(const std::wstring& path)
{
    return FoldCase(FullPath(path));
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return PathKey(a) == PathKey(b);
}

bool IsUnder(const std::wstring& path, const std::wstring& root)
{
    std::wstring key = PathKey(path), rootKey = PathKey(root);
    if (rootKey.empty())
        return false;
    if (key == rootKey)
        return true;
    if (key.size() <= rootKey.size() || key.compare(0, rootKey.size(), rootKey) != 0)
        return false;
    return rootKey.back() == L'\\' || key[rootKey.size()] == L'\\';
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace orvanta
