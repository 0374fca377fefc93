#include "server_process/dump_folder.h"
#include <windows.h>

namespace orvanta {

bool CreateFolders(const std::wstring& folder)
{
    if (folder.empty())
        return false;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':')
        CreateFolders(folder.substr(0, slash));
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

FolderSnapshot SnapshotFolder(const std::wstring& folder)
{
    FolderSnapshot files;
    if (folder.empty())
        return files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return files;
    do
    {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        FileStamp stamp;
        stamp.size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        stamp.lastWrite = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
        files[data.cFileName] = stamp;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

std::wstring NewestNewFile(const std::wstring& folder, const FolderSnapshot& before)
{
    std::wstring newest;
    FileStamp newestStamp;
    for (const auto& file : SnapshotFolder(folder))
    {
        auto old = before.find(file.first);
        bool changed = old == before.end() || old->second.size != file.second.size ||
                       old->second.lastWrite != file.second.lastWrite;
        if (changed && (newest.empty() || file.second.lastWrite >= newestStamp.lastWrite))
        {
            newest = file.first;
            newestStamp = file.second;
        }
    }
    return newest.empty() ? newest : folder + L"\\" + newest;
}

} // namespace orvanta
