// Finding the modules a run is given: files named directly, and under the
// folders named every file (or bundle folder) of a format asked for, as
// each format's unit names its modules (formats/format_unit.h), with the
// size and last write that decide whether a module changed since the last run.
#include "discovery/module_files.h"
#include "formats/format_unit.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace orvanta {

std::string FileTimeText(uint64_t fileTime)
{
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)fileTime;
    ft.dwHighDateTime = (DWORD)(fileTime >> 32);
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&ft, &t))
        return "";
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

namespace {

uint64_t Join(DWORD high, DWORD low)
{
    return (uint64_t)high << 32 | low;
}

bool Wanted(const std::vector<PluginFormat>& formats, PluginFormat format)
{
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

// Calls each(data, path) for every entry of a folder but "." and ".."; false
// (and the error code) when the folder cannot be listed. An empty folder is
// no error.
template <typename Each>
bool ForEachEntry(const std::wstring& folder, DWORD* error, Each each)
{
    WIN32_FIND_DATAW data;
    std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
    HANDLE find = FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
    {
        DWORD code = GetLastError();
        *error = code;
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES;
    }
    do
    {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            each(data, base + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

// Linked folders are not followed: a link back up would never end.
bool IsPlainFolder(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The newest last write of any file in a folder and its folders below.
void NewestFile(const std::wstring& folder, uint64_t* newest)
{
    DWORD error = 0;
    std::vector<std::wstring> folders;
    ForEachEntry(folder, &error, [&](const WIN32_FIND_DATAW& data, const std::wstring& path) {
        if (IsPlainFolder(data))
            folders.push_back(path);
        else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            *newest = std::max(*newest, Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    });
    for (const std::wstring& sub : folders)
        NewestFile(sub, newest);
}

// A bundle changes when its binary's size changes or any file in it is
// written: its resources and manifests count as much as the binary. A
// bundle without a binary is still a module (its scan says what is wrong):
// size 0. A bundle without any file keeps its folder's own time.
void StatBundle(const std::wstring& bundle, uint64_t folderTime, ModuleFile* file)
{
    file->path = bundle;
    std::wstring binary = UnitOf(FormatOfPath(bundle)).BundleBinary(bundle);
    WIN32_FILE_ATTRIBUTE_DATA data;
    file->size = GetFileAttributesExW(binary.c_str(), GetFileExInfoStandard, &data) &&
                         !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     ? Join(data.nFileSizeHigh, data.nFileSizeLow)
                     : 0;
    uint64_t newest = 0;
    NewestFile(bundle, &newest);
    file->modified = FileTimeText(newest != 0 ? newest : folderTime);
}

void StatFile(const std::wstring& path, const WIN32_FIND_DATAW& data, ModuleFile* file)
{
    file->path = path;
    file->size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    file->modified = FileTimeText(Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
}

void Walk(const std::wstring& folder, const std::vector<PluginFormat>& formats,
          std::map<std::wstring, ModuleFile>* files, std::vector<std::string>* errors)
{
    std::vector<std::wstring> folders;
    DWORD error = 0;
    bool listed = ForEachEntry(folder, &error, [&](const WIN32_FIND_DATAW& data, const std::wstring& path) {
        bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const FormatUnit* unit = UnitNaming(data.cFileName);
        if (isFolder && !(unit && unit->bundles))
        {
            if (IsPlainFolder(data))
                folders.push_back(path);
            return;
        }
        // A bundle is one module, never searched for more, even when its
        // format is not asked for (a VST3 bundle's inner DLLs are no VST 2
        // plugins).
        if (!unit || !Wanted(formats, unit->format))
            return;
        ModuleFile file;
        if (isFolder)
            StatBundle(path, Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime), &file);
        else
            StatFile(path, data, &file);
        (*files)[PathKey(path)] = file;
    });
    if (!listed)
        errors->push_back("cannot list the folder " + ToUtf8(folder) + " (error " + std::to_string(error) + ")");
    for (const std::wstring& sub : folders)
        Walk(sub, formats, files, errors);
}

// The path with its last part spelt as the folder spells it, so a module
// named in another letter case is the same entry as when its folder is
// searched.
std::wstring AsSpelt(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return path;
    FindClose(find);
    size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && FoldCase(entry.cFileName) == FoldCase(path.substr(slash + 1)))
        return path.substr(0, slash + 1) + entry.cFileName;
    return path;
}

} // namespace

bool StatModuleFile(const std::wstring& path, ModuleFile* file)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    uint64_t written = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        StatBundle(path, written, file);
        return true;
    }
    file->path = path;
    file->size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    file->modified = FileTimeText(written);
    return true;
}

FoundModules FindModules(const std::vector<std::wstring>& paths, const std::vector<PluginFormat>& formats)
{
    FoundModules found;
    found.formats = formats;
    std::map<std::wstring, ModuleFile> files; // by PathKey: sorted, each once
    for (const std::wstring& given : paths)
    {
        std::wstring path = FullPath(given);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (given.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        {
            found.errors.push_back("no such file or folder: " + ToUtf8(given));
            continue;
        }
        found.roots.push_back(path);
        bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A folder named directly is searched, unless it is a bundle; a file
        // named directly is taken whatever its name, if its format is asked.
        if (isFolder && !UnitOf(FormatOfPath(path)).bundles)
        {
            Walk(path, formats, &files, &found.errors);
            continue;
        }
        if (!Wanted(formats, FormatOfPath(path)))
            continue;
        ModuleFile file;
        if (!StatModuleFile(path, &file))
            continue;
        file.path = AsSpelt(path);
        files[PathKey(path)] = file;
    }
    for (auto& entry : files)
        found.files.push_back(std::move(entry.second));
    return found;
}

} // namespace orvanta
