// Where plugins are installed on a Windows machine, and where the shared
// database lives. The places are the ones installers and hosts agree on;
// each is taken only when it exists, and once, however many names lead to it.
#include "orvanta/database.h"
#include "orvanta/paths.h"
#include <windows.h>
#include <algorithm>

namespace orvanta {

namespace {

std::wstring Environment(const wchar_t* name)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return L"";
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

// The folder below an environment variable's folder; "" when it is unset.
std::wstring Below(const wchar_t* variable, const wchar_t* sub)
{
    std::wstring base = Environment(variable);
    return base.empty() ? L"" : base + L"\\" + sub;
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t begin = text.find_first_not_of(L" \t\"");
    if (begin == std::wstring::npos)
        return L"";
    size_t end = text.find_last_not_of(L" \t\"");
    return text.substr(begin, end - begin + 1);
}

// VST_PATH or CLAP_PATH: folders separated by ";", as PATH is.
std::vector<std::wstring> PathListFolders(const wchar_t* variable)
{
    std::vector<std::wstring> folders;
    std::wstring list = Environment(variable);
    size_t start = 0;
    while (start <= list.size())
    {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos)
            end = list.size();
        std::wstring folder = Trimmed(list.substr(start, end - start));
        if (!folder.empty())
            folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

// HKLM\SOFTWARE\VST, value VSTPluginsPath, in the 64-bit view (a 32-bit
// host's folder lives in the other one). Environment references expand.
std::wstring RegistryFolder()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VST", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"";
    // RRF_RT_REG_SZ takes REG_EXPAND_SZ values too, expanded.
    std::wstring value;
    DWORD bytes = 0;
    if (RegGetValueW(key, nullptr, L"VSTPluginsPath", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) == ERROR_SUCCESS &&
        bytes >= sizeof(wchar_t))
    {
        value.assign(bytes / sizeof(wchar_t), L'\0');
        if (RegGetValueW(key, nullptr, L"VSTPluginsPath", RRF_RT_REG_SZ, nullptr, &value[0], &bytes) != ERROR_SUCCESS)
            value.clear();
        value.resize(wcsnlen(value.c_str(), value.size()));
    }
    RegCloseKey(key);
    return Trimmed(value);
}

} // namespace

std::vector<std::wstring> StandardFolders(PluginFormat format)
{
    std::vector<std::wstring> candidates;
    if (format == PluginFormat::vst3)
    {
        candidates = {Below(L"COMMONPROGRAMFILES", L"VST3"), Below(L"LOCALAPPDATA", L"Programs\\Common\\VST3")};
    }
    else if (format == PluginFormat::clap)
    {
        candidates = {Below(L"COMMONPROGRAMFILES", L"CLAP"), Below(L"LOCALAPPDATA", L"Programs\\Common\\CLAP")};
        for (const std::wstring& folder : PathListFolders(L"CLAP_PATH"))
            candidates.push_back(folder);
    }
    else
    {
        candidates = PathListFolders(L"VST_PATH");
        candidates.push_back(RegistryFolder());
        for (std::wstring folder : {Below(L"PROGRAMFILES", L"VSTPlugins"), Below(L"PROGRAMFILES", L"Steinberg\\VstPlugins"),
                                    Below(L"COMMONPROGRAMFILES", L"VST2"),
                                    Below(L"COMMONPROGRAMFILES", L"Steinberg\\VST2")})
            candidates.push_back(folder);
    }
    std::vector<std::wstring> folders, keys;
    for (const std::wstring& candidate : candidates)
    {
        if (candidate.empty())
            continue;
        std::wstring folder = FullPath(candidate);
        DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        std::wstring key = PathKey(folder);
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            continue;
        keys.push_back(key);
        folders.push_back(folder);
    }
    return folders;
}

std::wstring DefaultDatabasePath()
{
    std::wstring base = Environment(L"LOCALAPPDATA");
    return base.empty() ? L"" : FullPath(base) + L"\\Orvanta\\orvanta-plugins.json";
}

} // namespace orvanta
