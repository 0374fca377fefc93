#include "client_support.h"
#include <windows.h>
#include <tlhelp32.h>

namespace clienttest {

namespace {

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

std::wstring BinPath(const std::wstring& name)
{
    return ExeFolder() + name;
}

std::wstring FixturePath(const std::wstring& name)
{
    return ExeFolder() + L"plugins\\" + name + L".dll";
}

std::wstring SamplePath(const std::wstring& name)
{
    return ExeFolder() + L"samples\\" + name + L".dll";
}

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    static LONG counter = 0;
    m_path = std::wstring(temp, n) + L"client-test-" + std::to_wstring(GetCurrentProcessId()) +
             L"-" + std::to_wstring(GetTickCount64()) + L"-" +
             std::to_wstring(InterlockedIncrement(&counter));
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(m_path);
}

std::wstring ScratchFolder::Copy(const std::wstring& from, const std::wstring& name) const
{
    std::wstring to = m_path + L"\\" + name;
    CopyFileW(from.c_str(), to.c_str(), FALSE);
    return to;
}

std::wstring ScratchFolder::Write(const std::wstring& name, const std::string& bytes) const
{
    std::wstring to = m_path + L"\\" + name;
    HANDLE file = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
    {
        DWORD written = 0;
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }
    return to;
}

std::string ScratchFolder::Read(const std::wstring& name) const
{
    std::string bytes;
    HANDLE file = CreateFileW((m_path + L"\\" + name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

orvanta::ServerConfig RealServer(const ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config;
    config.serverExe = BinPath(L"scanserver.exe");
    config.dumpFolder = scratch.Dumps();
    config.timeoutMs = timeoutMs;
    return config;
}

orvanta::ServerConfig FakeServer(const ScratchFolder& scratch, uint32_t timeoutMs)
{
    orvanta::ServerConfig config = RealServer(scratch, timeoutMs);
    config.serverExe = BinPath(L"fakeserver.exe");
    return config;
}

int ChildProcesses(const std::wstring& exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    {
        if (entry.th32ParentProcessID == GetCurrentProcessId() &&
            _wcsicmp(entry.szExeFile, exeName.c_str()) == 0)
            count++;
    }
    CloseHandle(snapshot);
    return count;
}

bool HaveDisplay()
{
    wchar_t value[64];
    return GetEnvironmentVariableW(L"DISPLAY", value, 64) > 0;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

int CountLines(const std::vector<std::string>& lines, const std::string& line)
{
    int count = 0;
    for (const std::string& l : lines)
        count += l == line;
    return count;
}

} // namespace clienttest
