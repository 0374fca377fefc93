// Where plugins are installed: the standard folders of each format from the
// environment and the registry, each that exists, each once; and the
// per-user database every host shares.
#include "environment.h"
#include "files.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <orvanta/database.h>
#include <gtest/gtest.h>
#include <windows.h>

using namespace orvanta;
using namespace testsupport;

namespace {

// HKLM\SOFTWARE\VST's VSTPluginsPath set for one test, put back after.
class ScopedVstRegistryValue
{
public:
    ScopedVstRegistryValue(DWORD type, const std::wstring& value)
    {
        LONG opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VST", 0, nullptr, 0,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &m_key, &m_created);
        if (opened != ERROR_SUCCESS)
            throw std::runtime_error("cannot open HKLM\\SOFTWARE\\VST (error " + std::to_string(opened) + ")");
        DWORD bytes = 0;
        if (RegQueryValueExW(m_key, L"VSTPluginsPath", nullptr, &m_oldType, nullptr, &bytes) == ERROR_SUCCESS)
        {
            m_old.resize(bytes);
            RegQueryValueExW(m_key, L"VSTPluginsPath", nullptr, &m_oldType, m_old.data(), &bytes);
            m_hadOld = true;
        }
        RegSetValueExW(m_key, L"VSTPluginsPath", 0, type, (const BYTE*)value.c_str(),
                       (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    }
    ~ScopedVstRegistryValue()
    {
        if (m_hadOld)
            RegSetValueExW(m_key, L"VSTPluginsPath", 0, m_oldType, m_old.data(), (DWORD)m_old.size());
        else
            RegDeleteValueW(m_key, L"VSTPluginsPath");
        RegCloseKey(m_key);
        if (m_created == REG_CREATED_NEW_KEY)
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VST", KEY_WOW64_64KEY, 0);
    }

private:
    HKEY m_key = nullptr;
    DWORD m_created = 0;
    bool m_hadOld = false;
    DWORD m_oldType = 0;
    std::vector<BYTE> m_old;
};

std::vector<std::string> Under(const std::vector<std::wstring>& folders, const std::wstring& root)
{
    std::vector<std::string> paths;
    for (const std::wstring& folder : folders)
        paths.push_back(folder.compare(0, root.size(), root) == 0 ? Utf8(folder.substr(root.size() + 1))
                                                                  : "outside: " + Utf8(folder));
    return paths;
}

} // namespace

TEST(StandardFolders, Vst2FoldersComeFromVstPathTheRegistryAndTheUsualPlacesEachOnceAndOnlyWhenThere)
{
    ScratchFolder root;
    for (const wchar_t* folder : {L"path one", L"path2", L"pf\\VSTPlugins", L"pf\\Steinberg\\VstPlugins", L"cpf\\VST2"})
        MakeFolders(root / folder);
    WriteWholeFile(root / L"a file", "not a folder");
    ScopedEnvironment environment;
    // Blanks and quotes around a folder, empty entries, a missing folder, a
    // file, and the same folder twice, once in another letter case and
    // once more as one of the usual places.
    environment.Set(L"VST_PATH", L" \"" + root / L"path one" + L"\" ;;" + root / L"missing" + L";" + root / L"a file" +
                                     L";" + root / L"PATH2\\" + L";" + root / L"path one" + L";" +
                                     root / L"pf\\vstplugins");
    environment.Set(L"PROGRAMFILES", root / L"pf");
    environment.Set(L"COMMONPROGRAMFILES", root / L"cpf");
    // An expandable value is expanded. The registry is the whole prefix's:
    // it names a folder that outlives this test and holds no plugins, for
    // the other tests that may read it meanwhile.
    ScopedVstRegistryValue registry(REG_EXPAND_SZ, L"%SystemRoot%\\Fonts");
    wchar_t windows[MAX_PATH];
    GetEnvironmentVariableW(L"SystemRoot", windows, MAX_PATH);

    EXPECT_EQ(Under(StandardFolders(PluginFormat::vst2), root.Path()),
              (std::vector<std::string>{"path one", "PATH2", "pf\\vstplugins", "outside: " + Utf8(windows) + "\\Fonts",
                                        "pf\\Steinberg\\VstPlugins", "cpf\\VST2"}));
}

TEST(StandardFolders, Vst2FoldersWithoutAnyVariableOrRegistryValueAreNone)
{
    ScopedEnvironment environment;
    for (const wchar_t* name : {L"VST_PATH", L"PROGRAMFILES", L"COMMONPROGRAMFILES"})
        environment.Set(name, std::nullopt);
    ScratchFolder root;
    // A registry value naming a folder that does not exist counts for nothing.
    ScopedVstRegistryValue registry(REG_SZ, root / L"gone");
    EXPECT_EQ(StandardFolders(PluginFormat::vst2), std::vector<std::wstring>{});
}

TEST(StandardFolders, Vst3FoldersAreTheCommonAndThePerUserOneEachOnce)
{
    ScratchFolder root;
    MakeFolders(root / L"cpf\\VST3");
    MakeFolders(root / L"local\\Programs\\Common\\VST3");
    ScopedEnvironment environment;
    environment.Set(L"COMMONPROGRAMFILES", root / L"cpf");
    environment.Set(L"LOCALAPPDATA", root / L"local");
    EXPECT_EQ(Under(StandardFolders(PluginFormat::vst3), root.Path()),
              (std::vector<std::string>{"cpf\\VST3", "local\\Programs\\Common\\VST3"}));

    // The same folder by both names is searched once; a missing one not at all.
    environment.Set(L"COMMONPROGRAMFILES", root / L"local\\Programs\\Common");
    EXPECT_EQ(Under(StandardFolders(PluginFormat::vst3), root.Path()),
              (std::vector<std::string>{"local\\Programs\\Common\\VST3"}));
    environment.Set(L"LOCALAPPDATA", root / L"nowhere");
    environment.Set(L"COMMONPROGRAMFILES", std::nullopt);
    EXPECT_EQ(StandardFolders(PluginFormat::vst3), std::vector<std::wstring>{});
}

TEST(StandardFolders, ClapFoldersAreTheCommonThePerUserAndClapPathsEachOnceAndOnlyWhenThere)
{
    ScratchFolder root;
    for (const wchar_t* folder : {L"cpf\\CLAP", L"local\\Programs\\Common\\CLAP", L"mine", L"more"})
        MakeFolders(root / folder);
    WriteWholeFile(root / L"a file", "not a folder");
    ScopedEnvironment environment;
    environment.Set(L"COMMONPROGRAMFILES", root / L"cpf");
    environment.Set(L"LOCALAPPDATA", root / L"local");
    // Empty parts, a missing folder, a file, and folders named twice.
    environment.Set(L"CLAP_PATH", L";" + root / L"mine" + L";;" + root / L"missing" + L";" + root / L"a file" + L";" +
                                      root / L"CPF\\clap" + L";" + root / L"more" + L";" + root / L"Mine\\");
    EXPECT_EQ(Under(StandardFolders(PluginFormat::clap), root.Path()),
              (std::vector<std::string>{"cpf\\CLAP", "local\\Programs\\Common\\CLAP", "mine", "more"}));

    for (const wchar_t* name : {L"CLAP_PATH", L"COMMONPROGRAMFILES", L"LOCALAPPDATA"})
        environment.Set(name, std::nullopt);
    EXPECT_EQ(StandardFolders(PluginFormat::clap), std::vector<std::wstring>{});
}

TEST(DefaultDatabase, LivesUnderLocalAppDataAndIsNothingWithoutIt)
{
    ScopedEnvironment environment;
    environment.Set(L"LOCALAPPDATA", L"C:\\Users\\Me\\AppData\\Local");
    EXPECT_EQ(Utf8(DefaultDatabasePath()), "C:\\Users\\Me\\AppData\\Local\\Orvanta\\orvanta-plugins.json");
    environment.Set(L"LOCALAPPDATA", std::nullopt);
    EXPECT_EQ(DefaultDatabasePath(), L"");
}
