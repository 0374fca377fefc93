// Which files are CLAP modules and where installers put them.
#include "formats/clap/clap_unit.h"
#include "formats/install_folders.h"

namespace orvanta {

namespace {

// The first database format with CLAP modules.
constexpr int ClapDatabaseFormat = 3;

} // namespace

// A CLAP module is a file: a folder of that name is searched like any other.
ClapUnit::ClapUnit() : FormatUnit(PluginFormat::clap, "clap", L".clap", false, ClapDatabaseFormat) {}

// The common and the per-user folder, then the user's own list.
std::vector<std::wstring> ClapUnit::InstallFolders() const
{
    std::vector<std::wstring> folders = {FolderBelow(L"COMMONPROGRAMFILES", L"CLAP"),
                                         FolderBelow(L"LOCALAPPDATA", L"Programs\\Common\\CLAP")};
    for (const std::wstring& folder : FolderList(L"CLAP_PATH"))
        folders.push_back(folder);
    return folders;
}

} // namespace orvanta
