// The crash-dump folder of one server: which files were there when the
// server started, so the dump of a crash is the newest file that is new or
// changed since then (a later dump of the same second replaces an earlier
// one under the same name).
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace orvanta {

struct FileStamp
{
    uint64_t size = 0;
    uint64_t lastWrite = 0;
};

using FolderSnapshot = std::map<std::wstring, FileStamp>;

// Makes the folder and its parents; true when it exists afterwards.
bool CreateFolders(const std::wstring& folder);
// The files directly inside the folder (no sub-folders).
FolderSnapshot SnapshotFolder(const std::wstring& folder);
// The full path of the newest file that is not in the snapshot or changed
// since; empty when there is none.
std::wstring NewestNewFile(const std::wstring& folder, const FolderSnapshot& before);

} // namespace orvanta
