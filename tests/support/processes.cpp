#include "processes.h"
#include "text.h"
#include <tlhelp32.h>
#include <stdexcept>

namespace testsupport {

std::wstring QuoteArgument(const std::wstring& text)
{
    if (!text.empty() && text.find_first_of(L" \t\"") == std::wstring::npos)
        return text;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text)
    {
        if (c == L'\\')
        {
            backslashes++;
            continue;
        }
        // Backslashes count as such only before a quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

CapturedProcess::CapturedProcess()
{
    InitializeCriticalSection(&m_lock);
}

CapturedProcess::~CapturedProcess()
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
        {
            WaitForSingleObject(s->thread, 5000);
            CloseHandle(s->thread);
        }
        if (s->pipe)
            CloseHandle(s->pipe);
    }
    DeleteCriticalSection(&m_lock);
}

DWORD WINAPI CapturedProcess::Reader(void* stream)
{
    Stream* s = static_cast<Stream*>(stream);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(s->pipe, chunk, sizeof chunk, &got, nullptr) && got > 0)
    {
        EnterCriticalSection(s->lock);
        s->bytes.append(chunk, got);
        LeaveCriticalSection(s->lock);
    }
    return 0;
}

bool CapturedProcess::Start(const std::wstring& exe, const std::vector<std::wstring>& args)
{
    if (m_process)
        return false;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr, errWrite = nullptr;
    if (!CreatePipe(&m_out.pipe, &outWrite, &inherit, 0))
        return false;
    if (!CreatePipe(&m_err.pipe, &errWrite, &inherit, 0))
    {
        CloseHandle(outWrite);
        return false;
    }
    SetHandleInformation(m_out.pipe, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_err.pipe, HANDLE_FLAG_INHERIT, 0);
    // Explicit handles for all three: under Wine a child given none would
    // write to this program's own output.
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);

    std::wstring line = QuoteArgument(exe);
    for (const std::wstring& arg : args)
        line += L" " + QuoteArgument(arg);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &si, &pi);
    DWORD error = GetLastError();
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(nul);
    if (!ok)
    {
        SetLastError(error);
        return false;
    }
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    for (Stream* s : {&m_out, &m_err})
    {
        s->lock = &m_lock;
        s->thread = CreateThread(nullptr, 0, Reader, s, 0, nullptr);
    }
    return true;
}

DWORD CapturedProcess::Wait(DWORD timeoutMs)
{
    if (!m_process)
        return STILL_ACTIVE;
    WaitForSingleObject(m_process, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process, &code);
    if (code != STILL_ACTIVE)
    {
        // The output ends when the last holder of the pipes ends: the
        // program itself, as long as it passed them on to no child.
        for (Stream* s : {&m_out, &m_err})
            if (s->thread)
                WaitForSingleObject(s->thread, 20000);
    }
    return code;
}

void CapturedProcess::Kill()
{
    if (m_process)
        TerminateProcess(m_process, 99);
}

std::string CapturedProcess::Out()
{
    EnterCriticalSection(&m_lock);
    std::string copy = m_out.bytes;
    LeaveCriticalSection(&m_lock);
    return copy;
}

std::string CapturedProcess::Err()
{
    EnterCriticalSection(&m_lock);
    std::string copy = m_err.bytes;
    LeaveCriticalSection(&m_lock);
    return copy;
}

ProcessRun RunCaptured(const std::wstring& exe, const std::vector<std::wstring>& args, DWORD timeoutMs)
{
    CapturedProcess process;
    if (!process.Start(exe, args))
    {
        DWORD error = GetLastError();
        throw std::runtime_error("cannot start " + Utf8(exe) + " (error " + std::to_string(error) + ")");
    }
    ProcessRun run;
    run.exitCode = process.Wait(timeoutMs);
    run.out = process.Out();
    run.err = process.Err();
    return run;
}

std::vector<DWORD> ChildProcesses(DWORD parent, const std::wstring& exeName)
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, exeName.c_str()) == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

} // namespace testsupport
