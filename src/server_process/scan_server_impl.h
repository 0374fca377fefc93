// Inside one scan server: the state that starting the process, reading its
// answer stream, running a request and ending the server share.
#pragma once
#include "server_process/dump_folder.h"
#include "server_process/scan_server.h"
#include <windows.h>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orvanta {

// How often a waiting request looks at the windows and the dump folder.
const uint32_t PollMs = 100;
// How long a request whose time ran out may go on while a dump is being
// written (6 to 20 s under Wine, twice that on a busy machine; DbgHelp may
// not grow the file steadily, so only its presence counts).
const uint32_t DumpWaitCapMs = 120000;
// How long a server may take to end once its output closed or its input
// was closed (a process that showed a window takes about 2 s under Wine).
const uint32_t ExitWaitMs = 15000;
// Start-up up to the first "ready:" (about 0.1 s on a quiet machine) may
// take this long even when the request limit is shorter: a short limit is
// meant for plugins, not for a busy machine starting a process.
const uint32_t StartLimitMs = 30000;

// The error of a request that a cancel ended.
constexpr const char* CancelledError = "the scan was cancelled";

inline uint64_t Now()
{
    return GetTickCount64();
}

// The folder without trailing separators: the server appends its own, and
// a quoted argument ending in a backslash would swallow the closing quote.
std::wstring BareFolder(std::wstring folder);

struct ScanServer::Impl
{
    ServerConfig config;
    HANDLE process = nullptr; // set and closed under processLock (Cancel reads it)
    HANDLE toServer = nullptr;
    HANDLE fromServer = nullptr;
    HANDLE reader = nullptr;
    DWORD processId = 0;
    std::string banner;
    std::vector<std::wstring> scanned;
    FolderSnapshot dumpsBefore;

    std::atomic<bool> cancelled{false};
    std::mutex processLock;

    std::mutex lock;
    std::condition_variable changed;
    std::string buffer; // written by the reader thread
    bool eof = false;
    size_t consumed = 0;

    static DWORD WINAPI ReadLoop(void* self);
    bool Launch(std::string* error);
    bool Start(RequestOutcome* outcome);
    // Waits for the next "ready:" line; false at the end of the stream or
    // when 'until' passes. *end is just past the ready line.
    enum class Wait { ready, ended, time };
    Wait WaitReady(uint64_t until, size_t* end);
    Wait Await(uint64_t requested, const DialogFn& onDialog, size_t* end);
    size_t FindReady() const;
    std::vector<std::string> TakeLines(size_t end);
    bool Exited(uint32_t waitMs, int* exitCode);
    void Terminate();
    void Close();
    void EndedOutcome(RequestOutcome* outcome, const char* when);
    // A new file in the dump folder since the server started: a crash in
    // progress or done.
    bool DumpStarted() const;
    // Closes the request pipe and waits for the end (terminating the server
    // when it does not end); the exit code, or -1 when it was terminated.
    int Shutdown();
};

} // namespace orvanta
