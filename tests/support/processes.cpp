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

ProcessTree::~ProcessTree()
{
    // The job ends what is left of the tree as its last handle closes.
    if (m_job)
        CloseHandle(m_job);
    if (m_process)
        CloseHandle(m_process);
}

bool ProcessTree::Start(const std::wstring& exe, const std::wstring& commandLine, DWORD flags,
                        const STARTUPINFOW& startup, const std::vector<HANDLE>& inherited)
{
    if (m_process)
    {
        SetLastError(ERROR_BUSY);
        return false;
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    DWORD error = ERROR_SUCCESS;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        error = GetLastError();

    // The handles the program inherits, and no others.
    std::vector<HANDLE> handles = inherited;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size ? size : 1);
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    bool listMade = false;
    if (!error && !handles.empty())
    {
        listMade = size && InitializeProcThreadAttributeList(attributes, 1, 0, &size);
        if (!listMade || !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                                    handles.size() * sizeof(HANDLE), nullptr, nullptr))
            error = GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;
    }

    PROCESS_INFORMATION pi = {};
    if (!error)
    {
        STARTUPINFOEXW extended = {};
        extended.StartupInfo = startup;
        extended.StartupInfo.cb = sizeof extended.StartupInfo;
        if (listMade)
        {
            extended.StartupInfo.cb = sizeof extended;
            extended.lpAttributeList = attributes;
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
        // Suspended until it is in the job, so whatever it starts is too.
        std::wstring line = commandLine;
        if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, !handles.empty(), flags | CREATE_SUSPENDED,
                            nullptr, nullptr, &extended.StartupInfo, &pi))
            error = GetLastError();
    }
    if (listMade)
        DeleteProcThreadAttributeList(attributes);
    if (!error && !AssignProcessToJobObject(job, pi.hProcess))
    {
        error = GetLastError();
        TerminateProcess(pi.hProcess, 1);
    }
    if (error)
    {
        if (pi.hProcess)
        {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        CloseHandle(job);
        SetLastError(error);
        return false;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    m_job = job;
    m_process = pi.hProcess;
    m_pid = pi.dwProcessId;
    m_tid = pi.dwThreadId;
    return true;
}

void ProcessTree::Kill(UINT exitCode)
{
    if (!m_job)
        return;
    TerminateJobObject(m_job, exitCode);
    // Termination need not be complete when the call returns.
    for (DWORD waited = 0; waited < 10000; waited += 5)
    {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
        if (!QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr) ||
            info.ActiveProcesses == 0)
            break;
        Sleep(5);
    }
    WaitForSingleObject(m_process, 10000);
}

CapturedProcess::CapturedProcess()
{
    InitializeCriticalSection(&m_lock);
}

CapturedProcess::~CapturedProcess()
{
    if (m_tree.Process())
    {
        Kill();
        Wait(20000);
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
    if (m_tree.Process())
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
    std::vector<HANDLE> inherited = {outWrite, errWrite};
    if (nul != INVALID_HANDLE_VALUE)
        inherited.push_back(nul);
    bool ok = m_tree.Start(exe, line, CREATE_NO_WINDOW, si, inherited);
    DWORD error = GetLastError();
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!ok)
    {
        SetLastError(error);
        return false;
    }
    for (Stream* s : {&m_out, &m_err})
    {
        s->lock = &m_lock;
        s->thread = CreateThread(nullptr, 0, Reader, s, 0, nullptr);
    }
    return true;
}

DWORD CapturedProcess::Wait(DWORD timeoutMs)
{
    HANDLE process = m_tree.Process();
    if (!process)
        return STILL_ACTIVE;
    WaitForSingleObject(process, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    if (code != STILL_ACTIVE)
    {
        // The output ends when the last holder of the pipes ends: the
        // program itself, and whatever it passed them on to (its console
        // host under Wine), which is ended here if still there.
        m_tree.Kill(99);
        for (Stream* s : {&m_out, &m_err})
            if (s->thread)
                WaitForSingleObject(s->thread, 20000);
    }
    return code;
}

void CapturedProcess::Kill()
{
    m_tree.Kill(99);
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

std::vector<RunningProcess> Descendants(DWORD root)
{
    std::vector<RunningProcess> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return {};
    std::vector<std::pair<DWORD, RunningProcess>> parentOf;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        parentOf.push_back({entry.th32ParentProcessID, RunningProcess{entry.th32ProcessID, entry.szExeFile}});
    CloseHandle(snapshot);
    // Breadth first from the root; an id is taken once, whatever cycle a
    // reused id makes.
    std::vector<DWORD> parents = {root};
    for (size_t next = 0; next < parents.size(); next++)
    {
        for (const auto& [parent, process] : parentOf)
        {
            if (parent != parents[next] || process.id == root)
                continue;
            bool seen = false;
            for (const RunningProcess& found : all)
                seen = seen || found.id == process.id;
            if (seen)
                continue;
            all.push_back(process);
            parents.push_back(process.id);
        }
    }
    return all;
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
