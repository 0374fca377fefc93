// Which files are VST 2 modules and where installers put them.
#include "formats/vst2/vst2_unit.h"
#include "database/database_file.h"
#include "formats/install_folders.h"
#include <windows.h>

namespace orvanta {

namespace {

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
    return TrimmedFolder(value);
}

} // namespace

// Every module file is a DLL; format 1 of the database knew VST 2 alone.
Vst2Unit::Vst2Unit() : FormatUnit(PluginFormat::vst2, "vst2", L".dll", false, OldDatabaseFormat) {}

// VST 2 has no standard place: the user's list first, then the registry's
// folder, then where installers commonly put plugins.
std::vector<std::wstring> Vst2Unit::InstallFolders() const
{
    std::vector<std::wstring> folders = FolderList(L"VST_PATH");
    folders.push_back(RegistryFolder());
    for (std::wstring folder : {FolderBelow(L"PROGRAMFILES", L"VSTPlugins"),
                                FolderBelow(L"PROGRAMFILES", L"Steinberg\\VstPlugins"),
                                FolderBelow(L"COMMONPROGRAMFILES", L"VST2"),
                                FolderBelow(L"COMMONPROGRAMFILES", L"Steinberg\\VST2")})
        folders.push_back(folder);
    return folders;
}

} // namespace orvanta
