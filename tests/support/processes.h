// Other programs run by a test: one started with its standard output and
// error captured, and the processes a process started.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <string>
#include <vector>

namespace testsupport {

// One argument of a command line by the Windows rules, so that
// CommandLineToArgvW gives back exactly its text; quoted only when it must
// be (empty, or holding a blank, a tab or a quote).
std::wstring QuoteArgument(const std::wstring& text);

// A program started with CreateProcessW, NUL as its input and pipes as its
// output and error, both read as they come. Ended when the object goes.
class CapturedProcess
{
public:
    CapturedProcess();
    ~CapturedProcess();
    CapturedProcess(const CapturedProcess&) = delete;
    CapturedProcess& operator=(const CapturedProcess&) = delete;

    bool Start(const std::wstring& exe, const std::vector<std::wstring>& args);
    // Waits for the end and the last output; the exit code, or STILL_ACTIVE.
    DWORD Wait(DWORD timeoutMs);
    void Kill();
    HANDLE Handle() const { return m_process; }
    // What it wrote so far.
    std::string Out();
    std::string Err();

private:
    struct Stream
    {
        HANDLE pipe = nullptr;
        HANDLE thread = nullptr;
        CRITICAL_SECTION* lock = nullptr;
        std::string bytes;
    };
    static DWORD WINAPI Reader(void* stream);

    CRITICAL_SECTION m_lock;
    HANDLE m_process = nullptr;
    Stream m_out, m_err;
};

struct ProcessRun
{
    DWORD exitCode = STILL_ACTIVE; // STILL_ACTIVE: killed after the time ran out
    std::string out, err;
};

// Runs a program to its end (or for at most timeoutMs). Throws
// std::runtime_error when it cannot be started.
ProcessRun RunCaptured(const std::wstring& exe, const std::vector<std::wstring>& args, DWORD timeoutMs);

// The ids of the running processes that parent started with that file name
// ("scanserver.exe", any letter case).
std::vector<DWORD> ChildProcesses(DWORD parent, const std::wstring& exeName);

} // namespace testsupport
