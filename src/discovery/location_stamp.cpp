// Walking a folder of plugin files with bounds, and its stamp. The walk is
// breadth-first, so a file limit reached keeps the files nearest the top.
#include "discovery/location_stamp.h"
#include "discovery/module_files.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <utility>

namespace orvanta {
namespace {

uint64_t Join(const FILETIME& time)
{
    return (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

} // namespace

LocationWalk WalkLocation(const std::wstring& folder, size_t fileLimit)
{
    LocationWalk walk;
    std::wstring root = folder;
    while (root.size() > 3 && (root.back() == L'\\' || root.back() == L'/'))
        root.pop_back();
    WIN32_FILE_ATTRIBUTE_DATA rootData;
    if (root.empty() || !GetFileAttributesExW(root.c_str(), GetFileExInfoStandard, &rootData) ||
        !(rootData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return walk;
    walk.exists = true;
    walk.newest = Join(rootData.ftLastWriteTime);
    std::vector<std::pair<std::wstring, int>> level = {{root, 0}}, next;
    while (!level.empty() && !walk.tooMany)
    {
        for (const auto& [path, depth] : level)
        {
            std::wstring base = path.back() == L'\\' ? path : path + L"\\";
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                           nullptr, 0);
            if (find == INVALID_HANDLE_VALUE)
            {
                DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
                    walk.errors.push_back("cannot list the folder " + ToUtf8(path) + " (error " +
                                          std::to_string(error) + ")");
                continue;
            }
            do
            {
                std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                // A link could lead back up or out of the folder: never followed.
                if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    continue;
                walk.newest = std::max(walk.newest, Join(data.ftLastWriteTime));
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                {
                    if (depth < LocationDepthLimit)
                        next.push_back({base + name, depth + 1});
                    else
                        walk.tooDeep = true;
                    continue;
                }
                if (walk.files.size() >= fileLimit)
                {
                    walk.tooMany = true;
                    break;
                }
                walk.files.push_back({base + name, Join(data.ftCreationTime), Join(data.ftLastWriteTime)});
            } while (FindNextFileW(find, &data));
            FindClose(find);
            if (walk.tooMany)
                break;
        }
        level = std::move(next);
        next.clear();
    }
    return walk;
}

std::string LocationStamp(const LocationWalk& walk)
{
    if (!walk.exists)
        return "";
    return std::to_string(walk.files.size()) + (walk.files.size() == 1 ? " file" : " files") + ", newest " +
           FileTimeText(walk.newest);
}

std::string LocationStamp(const std::wstring& folder)
{
    return LocationStamp(WalkLocation(folder));
}

std::string PathStamp(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return "";
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return LocationStamp(path);
    uint64_t written = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    uint64_t size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return "1 file of " + std::to_string(size) + " bytes, newest " + FileTimeText(written);
}

} // namespace orvanta
