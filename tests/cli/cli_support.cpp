#include "cli_support.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <algorithm>
#include <cstdio>

namespace clitest {

namespace {

std::wstring BinFolder()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

void DeleteTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else
            {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// The Windows rules for one argument of a command line.
std::wstring Quote(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg)
    {
        if (c == L'\\')
        {
            backslashes++;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

} // namespace

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    for (;;)
    {
        wchar_t name[64];
        swprintf(name, 64, L"clitest-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        m_path = std::wstring(temp) + name;
        if (CreateDirectoryW(m_path.c_str(), nullptr))
            break;
    }
}

ScratchFolder::~ScratchFolder()
{
    DeleteTree(m_path);
}

std::wstring ScratchFolder::operator/(const std::wstring& name) const
{
    return m_path + L"\\" + name;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::wstring& path)
{
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Utf8(path);
}

void SetLastWrite(const std::wstring& path, uint64_t fileTime)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)fileTime;
    ft.dwHighDateTime = (DWORD)(fileTime >> 32);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &ft);
    CloseHandle(file);
    ASSERT_TRUE(ok);
}

namespace {

void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>* files)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + L"\\" + name, prefix + name + L"\\", files);
        else
            files->push_back(prefix + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

} // namespace

std::vector<std::wstring> FilesUnder(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    ListFiles(folder, L"", &files);
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::wstring> SubFolders(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L".." && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::string bytes = ReadBytes(path);
    size_t start = 0;
    while (start < bytes.size())
    {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

nlohmann::json ReadJson(const std::wstring& path)
{
    std::string bytes = ReadBytes(path);
    nlohmann::json document = nlohmann::json::parse(bytes, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << "not valid JSON: " << Utf8(path) << "\n" << bytes;
    return document;
}

std::wstring Sample(const std::wstring& name)
{
    return BinFolder() + L"\\samples\\" + name + L".dll";
}

std::wstring Plugin(const std::wstring& name)
{
    return BinFolder() + L"\\plugins\\" + name + L".dll";
}

std::wstring CopyTo(const std::wstring& from, const std::wstring& folder, const std::wstring& as)
{
    std::wstring to = folder + L"\\" + as;
    EXPECT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << Utf8(from) << " -> " << Utf8(to);
    return to;
}

DWORD ChildProcessId(DWORD parent, const std::wstring& exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
    {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, exeName.c_str()) == 0)
            found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], n);
    return wide;
}

ToolProcess::~ToolProcess()
{
    if (m_process)
    {
        Kill();
        Wait(20000);
        CloseHandle(m_process);
    }
    for (Stream* s : {&m_out, &m_err})
    {
        if (s->thread)
            CloseHandle(s->thread);
        if (s->pipe)
            CloseHandle(s->pipe);
    }
    if (m_lockMade)
        DeleteCriticalSection(&m_lock);
}

DWORD WINAPI ToolProcess::Reader(void* context)
{
    Stream* s = (Stream*)context;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(s->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
    {
        EnterCriticalSection(s->lock);
        s->bytes.append(buffer, got);
        LeaveCriticalSection(s->lock);
    }
    return 0;
}

bool ToolProcess::Start(const std::vector<std::wstring>& args)
{
    InitializeCriticalSection(&m_lock);
    m_lockMade = true;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr, errWrite = nullptr;
    if (!CreatePipe(&m_out.pipe, &outWrite, &inherit, 0) || !CreatePipe(&m_err.pipe, &errWrite, &inherit, 0))
        return false;
    SetHandleInformation(m_out.pipe, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_err.pipe, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

    std::wstring exe = BinFolder() + L"\\orvanta-scan.exe";
    std::wstring line = Quote(exe);
    for (const std::wstring& arg : args)
        line += L" " + Quote(arg);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &si, &pi);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(nul);
    if (!ok)
        return false;
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    for (Stream* s : {&m_out, &m_err})
    {
        s->lock = &m_lock;
        s->thread = CreateThread(nullptr, 0, Reader, s, 0, nullptr);
    }
    return true;
}

DWORD ToolProcess::Wait(DWORD timeoutMs)
{
    if (!m_process)
        return STILL_ACTIVE;
    WaitForSingleObject(m_process, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process, &code);
    if (code != STILL_ACTIVE)
    {
        // Output ends when the last holder of the pipes ends; a server the
        // tool started holds none of them.
        for (Stream* s : {&m_out, &m_err})
            WaitForSingleObject(s->thread, 20000);
    }
    return code;
}

void ToolProcess::Kill()
{
    if (m_process)
        TerminateProcess(m_process, 99);
}

std::string ToolProcess::Out()
{
    EnterCriticalSection(&m_lock);
    std::string copy = m_out.bytes;
    LeaveCriticalSection(&m_lock);
    return copy;
}

std::string ToolProcess::Err()
{
    EnterCriticalSection(&m_lock);
    std::string copy = m_err.bytes;
    LeaveCriticalSection(&m_lock);
    return copy;
}

ToolRun RunTool(const std::vector<std::wstring>& args)
{
    ToolRun run;
    ToolProcess tool;
    EXPECT_TRUE(tool.Start(args));
    run.exitCode = tool.Wait();
    run.out = tool.Out();
    run.err = tool.Err();
    return run;
}

} // namespace clitest
