// Where plugins are installed on a Windows machine, and where the shared
// database lives. Each format's unit names the places its installers and
// hosts agree on; each is taken only when it exists, and once, however many
// names lead to it.
#include "formats/format_unit.h"
#include "formats/install_folders.h"
#include "orvanta/database.h"
#include "orvanta/paths.h"
#include <windows.h>
#include <algorithm>

namespace orvanta {

std::vector<std::wstring> StandardFolders(PluginFormat format)
{
    std::vector<std::wstring> folders, keys;
    for (const std::wstring& candidate : UnitOf(format).InstallFolders())
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
    std::wstring base = EnvironmentText(L"LOCALAPPDATA");
    return base.empty() ? L"" : FullPath(base) + L"\\Orvanta\\orvanta-plugins.json";
}

} // namespace orvanta
