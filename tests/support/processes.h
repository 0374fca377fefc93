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

// A program started in a job object of its own, which every process it
// starts in turn joins (a console program's console host under Wine, the
// servers orvanta-scan starts), so that ending the job ends them all. It
// inherits the handles named and no others: none of this program's own,
// such as CTest's output pipe, which a process left behind would otherwise
// hold open. Whatever is left of the tree ends when the object goes.
class ProcessTree
{
public:
    ProcessTree() = default;
    ~ProcessTree();
    ProcessTree(const ProcessTree&) = delete;
    ProcessTree& operator=(const ProcessTree&) = delete;

    // CreateProcessW with bInheritHandles, flags and startup (its standard
    // handles) as given; inherited lists every handle the program gets,
    // each of them inheritable. False with GetLastError's code when the
    // program cannot be started or put into its job.
    bool Start(const std::wstring& exe, const std::wstring& commandLine, DWORD flags, const STARTUPINFOW& startup,
               const std::vector<HANDLE>& inherited);
    // Ends the program and every process it started; returns when they
    // have all ended (or after 10 s).
    void Kill(UINT exitCode);
    HANDLE Process() const { return m_process; }
    DWORD ProcessId() const { return m_pid; }
    DWORD ThreadId() const { return m_tid; }

private:
    HANDLE m_job = nullptr;
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    DWORD m_tid = 0;
};

// A program started as a ProcessTree, NUL as its input and pipes as its
// output and error, both read as they come. Ended, with every process it
// started, when the object goes.
class CapturedProcess
{
public:
    CapturedProcess();
    ~CapturedProcess();
    CapturedProcess(const CapturedProcess&) = delete;
    CapturedProcess& operator=(const CapturedProcess&) = delete;

    bool Start(const std::wstring& exe, const std::vector<std::wstring>& args);
    // Waits for the end and the last output; the exit code, or STILL_ACTIVE.
    // Once the program has ended, what it left running is ended too.
    DWORD Wait(DWORD timeoutMs);
    // Ends the program and every process it started (exit code 99).
    void Kill();
    HANDLE Handle() const { return m_tree.Process(); }
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
    ProcessTree m_tree;
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

struct RunningProcess
{
    DWORD id = 0;
    std::wstring exeName;
};

// The running processes root started, those started by them, and so on.
std::vector<RunningProcess> Descendants(DWORD root);

} // namespace testsupport
