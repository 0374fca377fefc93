#include "pipe_host.h"
#include "build_paths.h"
#include "machines.h"
#include <stdio.h>

namespace testsupport {

std::wstring ServerExePath()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableW(L"ORVANTA_SCAN_SERVER", path, MAX_PATH * 4);
    if (n > 0 && n < MAX_PATH * 4)
        return std::wstring(path, n);
    if (MachineUnderTest() == Machine::X86)
        return X86ServerPath();
    return BinPath(L"scanserver.exe");
}

std::wstring HexHandle(const void* handle, bool upperCase)
{
    wchar_t text[32];
    swprintf(text, 32, upperCase ? L"%llX" : L"%llx", (unsigned long long)(uintptr_t)handle);
    return text;
}

ServerProcess::ServerProcess()
{
    InitializeCriticalSection(&m_lock);
    m_dataEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ServerProcess::~ServerProcess()
{
    Kill();
    CloseInput();
    if (m_reader)
    {
        WaitForSingleObject(m_reader, 5000);
        CloseHandle(m_reader);
    }
    if (m_fromServer)
        CloseHandle(m_fromServer);
    CloseHandle(m_dataEvent);
    DeleteCriticalSection(&m_lock);
}

bool ServerProcess::Start(const ServerOptions& options)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &m_toServer, &inherit, 0))
        return false;
    if (!CreatePipe(&m_fromServer, &childOut, &inherit, 0))
        return false;
    SetHandleInformation(m_toServer, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_fromServer, HANDLE_FLAG_INHERIT, 0);

    std::wstring exe = options.exePath.empty() ? ServerExePath() : options.exePath;
    std::wstring cmd = L"\"" + exe + L"\"";
    if (options.passInput)
    {
        std::wstring arg = options.inputPrefix + HexHandle(childIn, options.upperCaseInput) +
                           options.inputSuffix;
        cmd += arg.find(L' ') == std::wstring::npos ? L" " + arg : L" \"" + arg + L"\"";
    }
    else
        cmd += L" 0";
    cmd += L" " + (options.passOutput && !options.outputAsStdout ? HexHandle(childOut) : L"0");
    cmd += L" " + options.hostWindow;
    if (options.passDumpFolder)
        cmd += L" \"" + options.dumpFolder + L"\"";
    cmd += options.extraArgs;

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (options.outputAsStdout)
    {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        si.hStdOutput = childOut;
        si.hStdError = nullptr;
    }
    // Under Wine on a loaded machine process creation now and then fails at
    // once and succeeds when asked again; the tests are about the server,
    // not about that, so a failed start is tried twice more and reported.
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; attempt++)
    {
        if (attempt)
            Sleep(250);
        ok = m_tree.Start(exe, cmd, 0, si, {childIn, childOut});
        if (!ok)
            fprintf(stderr, "pipe host: cannot start the server (error %lu)\n", GetLastError());
    }
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!ok)
        return false;
    m_reader = CreateThread(nullptr, 0, ReaderThread, this, 0, nullptr);
    return m_reader != nullptr;
}

DWORD WINAPI ServerProcess::ReaderThread(void* self)
{
    ServerProcess* host = static_cast<ServerProcess*>(self);
    char chunk[65536];
    for (;;)
    {
        DWORD got = 0;
        BOOL ok = ReadFile(host->m_fromServer, chunk, sizeof chunk, &got, nullptr);
        EnterCriticalSection(&host->m_lock);
        if (ok && got)
            host->m_buffer.append(chunk, got);
        else
            host->m_eof = true;
        LeaveCriticalSection(&host->m_lock);
        SetEvent(host->m_dataEvent);
        if (!ok || !got)
            return 0;
    }
}

// Finds the end of the next "ready:\n" line after m_consumed, or waits for
// the end of the stream.
bool ServerProcess::WaitFor(size_t* end, DWORD timeoutMs, bool needReady)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        EnterCriticalSection(&m_lock);
        bool eof = m_eof;
        size_t found = std::string::npos;
        if (needReady)
        {
            size_t from = m_consumed;
            while (from < m_buffer.size())
            {
                size_t at = m_buffer.find("ready:\n", from);
                if (at == std::string::npos)
                    break;
                if (at == 0 || m_buffer[at - 1] == '\n')
                {
                    found = at + 7;
                    break;
                }
                from = at + 1;
            }
        }
        size_t size = m_buffer.size();
        LeaveCriticalSection(&m_lock);
        if (found != std::string::npos)
        {
            *end = found;
            return true;
        }
        if (eof)
        {
            *end = size;
            return !needReady;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs)
        {
            *end = size;
            return false;
        }
        WaitForSingleObject(m_dataEvent, timeoutMs - waited);
    }
}

std::string ServerProcess::ReadUntilReady(DWORD timeoutMs, bool* ready)
{
    size_t end = 0;
    bool ok = WaitFor(&end, timeoutMs, true);
    if (ready)
        *ready = ok;
    EnterCriticalSection(&m_lock);
    std::string out = m_buffer.substr(m_consumed, end - m_consumed);
    m_consumed = end;
    LeaveCriticalSection(&m_lock);
    return out;
}

std::string ServerProcess::ReadToEnd(DWORD timeoutMs)
{
    size_t end = 0;
    WaitFor(&end, timeoutMs, false);
    EnterCriticalSection(&m_lock);
    std::string out = m_buffer.substr(m_consumed, end - m_consumed);
    m_consumed = end;
    LeaveCriticalSection(&m_lock);
    return out;
}

bool ServerProcess::Write(const std::string& bytes)
{
    DWORD written = 0;
    return m_toServer && WriteFile(m_toServer, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
           written == bytes.size();
}

std::string ServerProcess::Request(const std::string& line, DWORD timeoutMs)
{
    Write(line + "\n");
    return ReadUntilReady(timeoutMs);
}

void ServerProcess::CloseInput()
{
    if (m_toServer)
    {
        CloseHandle(m_toServer);
        m_toServer = nullptr;
    }
}

DWORD ServerProcess::WaitExit(DWORD timeoutMs)
{
    HANDLE process = m_tree.Process();
    if (!process)
        return STILL_ACTIVE;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

void ServerProcess::Kill()
{
    m_tree.Kill(0xDEAD);
}

} // namespace testsupport
