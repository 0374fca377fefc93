// Starting a server process and ending it: two anonymous pipes whose child
// ends alone are inheritable, handles in hexadecimal on the command line, NUL
// as the standard handles (a plugin's printf goes nowhere).
#include "server_process/scan_server_impl.h"
#include "orvanta/text.h"
#include <algorithm>
#include <cwchar>

namespace orvanta {
namespace {

// The child's pipe ends are inheritable only while this lock is held, so a
// server started from another thread at the same moment never inherits
// them (it would keep this server's input open for ever).
std::mutex& CreationLock()
{
    static std::mutex lock;
    return lock;
}

// A process attribute list naming the only handles a child inherits;
// attributes stays null when the list cannot be made.
struct InheritList
{
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr;
    std::vector<char> storage;
    HANDLE handles[3] = {};

    InheritList(const HANDLE* list, size_t count)
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0 || count > 3)
            return;
        storage.resize(size);
        auto candidate = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (!InitializeProcThreadAttributeList(candidate, 1, 0, &size))
            return;
        std::copy(list, list + count, handles);
        if (!UpdateProcThreadAttribute(candidate, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                       count * sizeof(HANDLE), nullptr, nullptr))
        {
            DeleteProcThreadAttributeList(candidate);
            return;
        }
        attributes = candidate;
    }
    ~InheritList()
    {
        if (attributes)
            DeleteProcThreadAttributeList(attributes);
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;
};

std::wstring HandleArgument(uint64_t value)
{
    wchar_t text[24];
    swprintf(text, 24, L"%llx", (unsigned long long)value);
    return text;
}

} // namespace

// The folder without trailing separators: the server appends its own, and
// a quoted argument ending in a backslash would swallow the closing quote.
std::wstring BareFolder(std::wstring folder)
{
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/') &&
           folder[folder.size() - 2] != L':')
        folder.pop_back();
    return folder;
}

bool ScanServer::Impl::Launch(std::string* error)
{
    buffer.clear();
    consumed = 0;
    eof = false;
    banner.clear();
    scanned.clear();
    std::wstring dumps = BareFolder(config.dumpFolder);
    if (!dumps.empty())
    {
        CreateFolders(dumps);
        dumpsBefore = SnapshotFolder(dumps);
    }

    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toServer, nullptr, 0))
    {
        *error = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (!CreatePipe(&fromServer, &childOut, nullptr, 0))
    {
        *error = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(childIn);
        CloseHandle(toServer);
        toServer = nullptr;
        return false;
    }
    std::wstring cmd = L"\"" + config.serverExe + L"\" " + HandleArgument((uintptr_t)childIn) + L" " +
                       HandleArgument((uintptr_t)childOut) + L" " + HandleArgument(config.hostWindow);
    if (!dumps.empty())
        cmd += L" \"" + dumps + L"\"";

    PROCESS_INFORMATION pi = {};
    BOOL started = FALSE;
    DWORD startError = 0;
    {
        std::lock_guard<std::mutex> hold(CreationLock());
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr);
        SetHandleInformation(childIn, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        SetHandleInformation(childOut, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        STARTUPINFOEXW six = {};
        STARTUPINFOW& si = six.StartupInfo;
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nul != INVALID_HANDLE_VALUE ? nul : nullptr;
        si.hStdOutput = si.hStdInput;
        si.hStdError = si.hStdInput;
        // The child inherits these handles and no others, whatever else is
        // inheritable in this process at the moment (a host's own handles,
        // another library's). Where the list cannot be made, the lock above
        // still keeps the servers' ends apart.
        HANDLE inherited[3] = {childIn, childOut, si.hStdInput};
        InheritList list(inherited, si.hStdInput ? 3 : 2);
        DWORD flags = 0;
        if (list.attributes)
        {
            si.cb = sizeof six;
            six.lpAttributeList = list.attributes;
            flags = EXTENDED_STARTUPINFO_PRESENT;
        }
        std::wstring mutableCmd = cmd;
        started = CreateProcessW(config.serverExe.c_str(), &mutableCmd[0], nullptr, nullptr, TRUE,
                                 flags, nullptr, nullptr, &si, &pi);
        startError = GetLastError();
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (nul != INVALID_HANDLE_VALUE)
            CloseHandle(nul);
    }
    if (!started)
    {
        *error = "cannot start the server '" + ToUtf8(config.serverExe) + "' (error " +
                 std::to_string(startError) + ")";
        Close();
        return false;
    }
    CloseHandle(pi.hThread);
    {
        std::lock_guard<std::mutex> hold(processLock);
        process = pi.hProcess;
        processId = pi.dwProcessId;
        if (cancelled) // a Cancel that came while it started
            TerminateProcess(process, 1);
    }
    reader = CreateThread(nullptr, 0, ReadLoop, this, 0, nullptr);
    if (!reader)
    {
        *error = "cannot start the reader thread";
        Terminate();
        Close();
        return false;
    }
    return true;
}

bool ScanServer::Impl::Exited(uint32_t waitMs, int* exitCode)
{
    if (!process || WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    *exitCode = (int)code;
    return true;
}

void ScanServer::Impl::Terminate()
{
    if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
    {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, ExitWaitMs);
    }
}

// Releases everything of the ended (or never started) process.
void ScanServer::Impl::Close()
{
    if (toServer)
        CloseHandle(toServer);
    toServer = nullptr;
    if (reader)
    {
        // The output closes when the server ends; a grandchild that kept a
        // copy of it would block the read, so cancel it then.
        if (WaitForSingleObject(reader, 5000) == WAIT_TIMEOUT)
        {
            CancelSynchronousIo(reader);
            WaitForSingleObject(reader, 5000);
        }
        CloseHandle(reader);
        reader = nullptr;
    }
    if (fromServer)
        CloseHandle(fromServer);
    fromServer = nullptr;
    std::lock_guard<std::mutex> hold(processLock);
    if (process)
        CloseHandle(process);
    process = nullptr;
    processId = 0;
}

int ScanServer::Impl::Shutdown()
{
    if (toServer)
        CloseHandle(toServer);
    toServer = nullptr;
    int code = -1;
    if (!Exited(ExitWaitMs, &code))
    {
        Terminate();
        code = -1;
    }
    Close();
    return code;
}

} // namespace orvanta
