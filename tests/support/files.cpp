#include "files.h"
#include "text.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <algorithm>
#include <functional>
#include <stdexcept>

namespace testsupport {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::wstring& path)
{
    DWORD error = GetLastError();
    throw std::runtime_error(what + " " + Utf8(path) + " (error " + std::to_string(error) + ")");
}

std::wstring WithSeparator(const std::wstring& folder)
{
    return !folder.empty() && folder.back() == L'\\' ? folder : folder + L"\\";
}

// Calls back for every entry of a folder but "." and "..".
void ForEachEntry(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((WithSeparator(folder) + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            visit(data);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

bool IsFolder(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CollectFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>* files)
{
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        if (IsFolder(data))
            CollectFiles(WithSeparator(folder) + data.cFileName, prefix + data.cFileName + L"\\", files);
        else
            files->push_back(prefix + data.cFileName);
    });
}

} // namespace

std::string ReadWholeFile(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create", path);
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes.size())
        Fail("cannot write", path);
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    return SplitLines(ReadWholeFile(path));
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr))
        Fail("cannot create the folder", path);
}

std::wstring CopyTo(const std::wstring& from, const std::wstring& folder, const std::wstring& as)
{
    std::wstring to = WithSeparator(folder) + as;
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        Fail("cannot copy " + Utf8(from) + " to", to);
    return to;
}

void SetLastWrite(const std::wstring& path, uint64_t fileTime)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot open", path);
    FILETIME time;
    time.dwLowDateTime = (DWORD)fileTime;
    time.dwHighDateTime = (DWORD)(fileTime >> 32);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    if (!ok)
        Fail("cannot set the last-write time of", path);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) { names.push_back(data.cFileName); });
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> SubFolders(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        if (IsFolder(data))
            names.push_back(data.cFileName);
    });
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> FilesUnder(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    CollectFiles(folder, L"", &files);
    std::sort(files.begin(), files.end());
    return files;
}

void RemoveTree(const std::wstring& folder)
{
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        std::wstring path = WithSeparator(folder) + data.cFileName;
        if (IsFolder(data))
            RemoveTree(path);
        else
        {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    });
    RemoveDirectoryW(folder.c_str());
}

} // namespace testsupport
