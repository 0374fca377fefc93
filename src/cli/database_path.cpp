#include "database_path.h"
#include <orvanta/database.h>
#include <orvanta/paths.h>
#include <windows.h>

namespace orvantacli {

std::wstring DatabasePath(const Options& options, std::string* error)
{
    if (!options.database.empty())
        return options.database;
    std::wstring path = orvanta::DefaultDatabasePath();
    if (path.empty())
        *error = "LOCALAPPDATA is not set: --db names the database";
    return path;
}

void MakeFolders(const std::wstring& folder)
{
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::wstring parent = orvanta::FolderOf(folder);
    if (parent != folder && parent != L".")
        MakeFolders(parent);
    CreateDirectoryW(folder.c_str(), nullptr);
}

} // namespace orvantacli
