// One scan server process driven the way a host drives it: two anonymous
// pipes whose child ends alone are inheritable, handles in hexadecimal on
// the command line, NUL as the standard handles (a plugin's printf goes
// nowhere), a reader thread that keeps reading so the server's per-line
// flush never blocks, and a waiting loop that watches the time limit, the
// dump folder and the server's windows.
#include "dialog_windows.h"
#include "dump_folder.h"
#include "orvanta_scan.h"
#include "text_convert.h"
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace orvanta {
namespace {

const uint32_t PollMs = 100;
// How long a request whose time ran out may go on while a dump is being
// written (6 to 20 s under Wine, twice that on a busy machine; DbgHelp may
// not grow the file steadily, so only its presence counts).
const uint32_t DumpWaitCapMs = 120000;
// How long a server may take to end once its output closed or its input
// was closed (a process that showed a window takes about 2 s under Wine).
const uint32_t ExitWaitMs = 15000;
const int CrashExitCode = 9;
// Start-up up to the first "ready:" (about 0.1 s on a quiet machine) may
// take this long even when the request limit is shorter: a short limit is
// meant for plugins, not for a busy machine starting a process.
const uint32_t StartLimitMs = 30000;

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

std::wstring Hex(uint64_t value)
{
    wchar_t text[24];
    swprintf(text, 24, L"%llx", (unsigned long long)value);
    return text;
}

std::string Hex8(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%.8X", value);
    return text;
}

// The folder without trailing separators: the server appends its own, and
// a quoted argument ending in a backslash would swallow the closing quote.
std::wstring BareFolder(std::wstring folder)
{
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/') &&
           folder[folder.size() - 2] != L':')
        folder.pop_back();
    return folder;
}

uint64_t Now()
{
    return GetTickCount64();
}

} // namespace

struct ScanServer::Impl
{
    ServerConfig config;
    HANDLE process = nullptr;
    HANDLE toServer = nullptr;
    HANDLE fromServer = nullptr;
    HANDLE reader = nullptr;
    DWORD processId = 0;
    std::string banner;
    std::vector<std::wstring> scanned;
    FolderSnapshot dumpsBefore;

    std::mutex lock;
    std::condition_variable changed;
    std::string buffer; // written by the reader thread
    bool eof = false;
    size_t consumed = 0;

    static DWORD WINAPI ReadLoop(void* self);
    bool Launch(std::string* error);
    // Waits for the next "ready:" line; false at the end of the stream or
    // when 'until' passes. *end is just past the ready line.
    enum class Wait { ready, ended, time };
    Wait WaitReady(uint64_t until, size_t* end);
    size_t FindReady() const;
    std::vector<std::string> TakeLines(size_t end);
    bool Exited(uint32_t waitMs, int* exitCode);
    void Terminate();
    void Close();
    void EndedOutcome(RequestOutcome* outcome, const char* when);
    // Closes the request pipe and waits for the end (terminating the server
    // when it does not end); the exit code, or -1 when it was terminated.
    int Shutdown();
};

DWORD WINAPI ScanServer::Impl::ReadLoop(void* param)
{
    Impl* self = static_cast<Impl*>(param);
    std::string chunk(65536, '\0');
    for (;;)
    {
        DWORD got = 0;
        BOOL ok = ReadFile(self->fromServer, &chunk[0], (DWORD)chunk.size(), &got, nullptr);
        {
            std::lock_guard<std::mutex> hold(self->lock);
            if (ok && got)
                self->buffer.append(chunk.data(), got);
            else
                self->eof = true;
        }
        self->changed.notify_all();
        if (!ok || !got)
            return 0;
    }
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
    std::wstring cmd = L"\"" + config.serverExe + L"\" " + Hex((uintptr_t)childIn) + L" " +
                       Hex((uintptr_t)childOut) + L" " + Hex(config.hostWindow);
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
    process = pi.hProcess;
    processId = pi.dwProcessId;
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

size_t ScanServer::Impl::FindReady() const
{
    size_t at = consumed;
    while (at < buffer.size())
    {
        size_t lineEnd = buffer.find('\n', at);
        if (lineEnd == std::string::npos)
            return std::string::npos;
        if (buffer.compare(at, lineEnd - at, "ready:") == 0)
            return lineEnd + 1;
        at = lineEnd + 1;
    }
    return std::string::npos;
}

ScanServer::Impl::Wait ScanServer::Impl::WaitReady(uint64_t until, size_t* end)
{
    std::unique_lock<std::mutex> hold(lock);
    for (;;)
    {
        size_t found = FindReady();
        if (found != std::string::npos)
        {
            *end = found;
            return Wait::ready;
        }
        if (eof)
        {
            *end = buffer.size();
            return Wait::ended;
        }
        uint64_t now = Now();
        if (now >= until)
        {
            *end = buffer.size();
            return Wait::time;
        }
        changed.wait_for(hold, std::chrono::milliseconds(until - now));
    }
}

// The lines from the consumed point up to 'end', without their line feeds
// and without the closing "ready:" line; a last line cut off by the end of
// the server is kept as it arrived.
std::vector<std::string> ScanServer::Impl::TakeLines(size_t end)
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> lines;
    size_t at = consumed;
    while (at < end)
    {
        size_t lineEnd = buffer.find('\n', at);
        if (lineEnd == std::string::npos || lineEnd >= end)
        {
            lines.push_back(buffer.substr(at, end - at));
            break;
        }
        lines.push_back(buffer.substr(at, lineEnd - at));
        at = lineEnd + 1;
    }
    consumed = end;
    if (!lines.empty() && lines.back() == "ready:")
        lines.pop_back();
    return lines;
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
    if (process)
        CloseHandle(process);
    process = nullptr;
    processId = 0;
}

// The server closed its output before the next "ready:": a crash (exit
// code 9, with its dump) or a lost server.
void ScanServer::Impl::EndedOutcome(RequestOutcome* outcome, const char* when)
{
    int code = -1;
    if (!Exited(ExitWaitMs, &code))
    {
        Terminate();
        Close();
        outcome->status = Status::lost;
        outcome->error = std::string("the server closed its output ") + when +
                         " but did not end";
        return;
    }
    outcome->exitCode = code;
    if (code == CrashExitCode)
    {
        outcome->status = Status::crashed;
        std::wstring dumps = BareFolder(config.dumpFolder);
        std::wstring dump = dumps.empty() ? std::wstring() : NewestNewFile(dumps, dumpsBefore);
        if (dump.empty())
            outcome->error = std::string("crashed ") + when + " (no dump file found)";
        else
        {
            std::string why;
            if (ReadCrashDump(dump, &outcome->crash, &why))
            {
                outcome->error = std::string("crashed ") + when + ": exception 0x" +
                                 Hex8(outcome->crash.exceptionCode);
                if (!outcome->crash.faultingModule.empty())
                    outcome->error += " in " + outcome->crash.faultingModule;
            }
            else
                outcome->error = std::string("crashed ") + when + " (" + why + ")";
            outcome->crash.dumpPath = ToUtf8(dump);
        }
    }
    else
    {
        outcome->status = Status::lost;
        outcome->error = std::string("the server ended ") + when + " with exit code " +
                         std::to_string(code);
    }
    Close();
}

ScanServer::ScanServer(ServerConfig config) : m_impl(new Impl)
{
    m_impl->config = std::move(config);
}

ScanServer::~ScanServer()
{
    Stop();
}

const std::string& ScanServer::Banner() const
{
    return m_impl->banner;
}

bool ScanServer::Running() const
{
    return m_impl->process && WaitForSingleObject(m_impl->process, 0) == WAIT_TIMEOUT;
}

const std::vector<std::wstring>& ScanServer::ScannedByThisProcess() const
{
    return m_impl->scanned;
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

bool ScanServer::Stop()
{
    if (!m_impl->process)
        return true;
    return m_impl->Shutdown() != -1;
}

RequestOutcome ScanServer::Finish()
{
    Impl& s = *m_impl;
    RequestOutcome outcome;
    outcome.status = Status::ok;
    if (!s.process)
        return outcome;
    uint64_t started = Now();
    if (s.toServer)
        CloseHandle(s.toServer);
    s.toServer = nullptr;
    // A server whose plugin thread crashed while it waited writes its dump
    // before it ends, however long that takes.
    std::wstring dumps = BareFolder(s.config.dumpFolder);
    int code = -1;
    bool ended = false;
    while (!(ended = s.Exited(PollMs, &code)))
    {
        uint64_t waited = Now() - started;
        bool dumping = !dumps.empty() && !NewestNewFile(dumps, s.dumpsBefore).empty();
        if (waited >= (dumping ? DumpWaitCapMs : ExitWaitMs))
            break;
    }
    outcome.elapsedMs = (uint32_t)(Now() - started);
    if (!ended)
    {
        s.Terminate();
        s.Close();
        outcome.status = Status::lost;
        outcome.error = "the server did not end when its requests ended";
        return outcome;
    }
    if (code == 0)
    {
        outcome.exitCode = 0;
        s.Close();
        return outcome;
    }
    s.EndedOutcome(&outcome, "after its last answer");
    return outcome;
}

RequestOutcome ScanServer::Request(const std::wstring& path, std::optional<uint32_t> shellId,
                                   const DialogFn& onDialog)
{
    Impl& s = *m_impl;
    RequestOutcome outcome;
    uint64_t started = Now();
    uint64_t requested = started;
    auto finish = [&]() {
        outcome.elapsedMs = (uint32_t)(Now() - requested);
        return outcome;
    };

    if (!s.process)
    {
        std::string error;
        if (!s.Launch(&error))
        {
            outcome.status = Status::lost;
            outcome.error = error;
            return finish();
        }
        size_t end = 0;
        uint32_t startLimit = std::max(s.config.timeoutMs, StartLimitMs);
        Impl::Wait wait = s.WaitReady(started + startLimit, &end);
        std::vector<std::string> lines = s.TakeLines(end);
        if (!lines.empty() && lines[0].compare(0, 5, "info:") == 0)
            s.banner = lines[0].substr(5);
        if (wait == Impl::Wait::time)
        {
            s.Terminate();
            s.Close();
            outcome.status = Status::lost;
            outcome.error = "the server did not say ready within " +
                            std::to_string(startLimit) + " ms";
            outcome.lines = lines;
            return finish();
        }
        if (wait == Impl::Wait::ended)
        {
            outcome.lines = lines;
            s.EndedOutcome(&outcome, "while starting");
            return finish();
        }
    }

    bool known = false;
    for (const std::wstring& p : s.scanned)
        known = known || p == path;
    if (!known)
        s.scanned.push_back(path);

    std::string line = ToUtf8(path);
    if (shellId)
        line += ">" + Hex8(*shellId);
    line += "\n";
    requested = Now();
    DWORD written = 0;
    // A failed write means the server is gone; its end is read below.
    WriteFile(s.toServer, line.data(), (DWORD)line.size(), &written, nullptr);

    uint64_t deadline = requested + s.config.timeoutMs;
    uint64_t dumpCap = deadline + DumpWaitCapMs;
    std::vector<DialogWindow> shown;
    size_t end = 0;
    Impl::Wait wait;
    for (;;)
    {
        uint64_t now = Now();
        uint64_t until = now + PollMs;
        if (now < deadline && until > deadline)
            until = deadline;
        wait = s.WaitReady(until, &end);
        if (wait != Impl::Wait::time)
            break;
        now = Now();
        if (onDialog)
        {
            std::vector<DialogWindow> windows = DialogWindowsOf(s.processId);
            bool same = windows.size() == shown.size();
            for (size_t i = 0; same && i < windows.size(); i++)
                same = windows[i].title == shown[i].title && windows[i].text == shown[i].text;
            if (!same)
            {
                shown = windows;
                onDialog(windows);
            }
        }
        if (now < deadline)
            continue;
        // Out of time, but a new dump in the folder means a crash in
        // progress, not a hang: wait for the server to finish it and end.
        std::wstring dumps = BareFolder(s.config.dumpFolder);
        if (!dumps.empty() && now < dumpCap && !NewestNewFile(dumps, s.dumpsBefore).empty())
            continue;
        break;
    }

    outcome.lines = s.TakeLines(end);
    // Whatever ends the request takes the dialogs with it.
    if (onDialog && !shown.empty())
        onDialog({});
    if (wait == Impl::Wait::time)
    {
        outcome.windows = DialogWindowsOf(s.processId);
        s.Terminate();
        s.Close();
        outcome.status = Status::timeout;
        outcome.error = "no answer within " + std::to_string(s.config.timeoutMs) + " ms";
        if (!outcome.windows.empty())
            outcome.error += ", waiting on " + DescribeWindows(outcome.windows);
        return finish();
    }
    if (wait == Impl::Wait::ended)
    {
        s.EndedOutcome(&outcome, "during the request");
        return finish();
    }

    std::string block;
    for (const std::string& l : outcome.lines)
        if (l.compare(0, 2, ">:") == 0)
            block += l.substr(2) + "\n";
    PluginReport report;
    std::string error;
    if (block.empty() || !ParseReport(block, &report, &error))
    {
        // The exchange is out of step: end this server, the next request
        // starts a fresh one.
        outcome.status = Status::lost;
        outcome.error = block.empty() ? "answer without a report block" : error;
        outcome.exitCode = s.Shutdown();
        return finish();
    }
    outcome.status = report.error.empty() ? Status::ok : Status::failed;
    outcome.error = report.error;
    outcome.report = std::move(report);
    return finish();
}

} // namespace orvanta
