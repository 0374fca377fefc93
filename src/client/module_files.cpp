// Finding the module files a run is given: files named directly, and every
// ".dll" under the folders named, with the size and last write that decide
// whether a module changed since the last run.
#include "module_files.h"
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

bool EndsWithDll(const std::wstring& name)
{
    return name.size() >= 4 && FoldCase(name.substr(name.size() - 4)) == L".DLL";
}

void Walk(const std::wstring& folder, std::map<std::wstring, ModuleFile>* files,
          std::vector<std::string>* errors)
{
    WIN32_FIND_DATAW data;
    std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
    HANDLE find = FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
    {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES)
            errors->push_back("cannot list the folder " + ToUtf8(folder) + " (error " +
                              std::to_string(code) + ")");
        return;
    }
    std::vector<std::wstring> folders;
    do
    {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            // Linked folders are not followed: a link back up would never end.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                folders.push_back(base + name);
        }
        else if (EndsWithDll(name))
        {
            ModuleFile file;
            file.path = base + name;
            file.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
            file.modified = FileTimeText(Join(data.ftLastWriteTime.dwHighDateTime,
                                              data.ftLastWriteTime.dwLowDateTime));
            (*files)[PathKey(file.path)] = file;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    for (const std::wstring& sub : folders)
        Walk(sub, files, errors);
}

} // namespace

bool StatModuleFile(const std::wstring& path, ModuleFile* file)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    file->path = path;
    file->size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    file->modified =
        FileTimeText(Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    return true;
}

FoundModules FindModules(const std::vector<std::wstring>& paths, const std::vector<PluginFormat>& formats)
{
    (void)formats; // every format searched alike, by the file name ".dll", for now
    FoundModules found;
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
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            Walk(path, &files, &found.errors);
            continue;
        }
        ModuleFile file;
        file.path = path;
        // The name as the folder spells it, so a file named in another
        // letter case is the same entry as when its folder is searched.
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
        if (find != INVALID_HANDLE_VALUE)
        {
            FindClose(find);
            size_t slash = path.find_last_of(L'\\');
            if (slash != std::wstring::npos && FoldCase(entry.cFileName) == FoldCase(path.substr(slash + 1)))
                file.path = path.substr(0, slash + 1) + entry.cFileName;
        }
        file.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
        file.modified =
            FileTimeText(Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
        files[PathKey(path)] = file;
    }
    for (auto& entry : files)
        found.files.push_back(std::move(entry.second));
    return found;
}

} // namespace orvanta
