// A host for the scan server: starts the real server executable with
// anonymous pipes passed as hexadecimal handles on its command line, writes
// request bytes and reads the answer up to the next "ready:\n". Used by the
// end-to-end tests, the badge host, scanhost and the benchmarks.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "processes.h"
#include <windows.h>
#include <string>

namespace testsupport {

// The server every host here starts unless told another: the full path in
// the environment variable ORVANTA_SCAN_SERVER when set (to run the same
// tests against another build of the server), else the server of the
// machine under test (machines.h): scanserver.exe beside the running
// program, or scanserver32.exe.
std::wstring ServerExePath();

// A handle or window as the server reads it on its command line: hexadecimal
// digits without a prefix.
std::wstring HexHandle(const void* handle, bool upperCase = false);

struct ServerOptions
{
    bool passInput = true;           // argument 1: the request pipe
    bool passOutput = true;          // argument 2: the answer pipe
    bool outputAsStdout = false;     // hand the answer pipe as standard output instead
    std::wstring inputPrefix;        // argument 1 is prefix + handle in hex + suffix,
    std::wstring inputSuffix;        // quoted when that holds a blank
    bool upperCaseInput = false;
    std::wstring hostWindow = L"0";  // argument 3
    bool passDumpFolder = false;     // argument 4 present?
    std::wstring dumpFolder;         // argument 4 text (may be empty)
    std::wstring extraArgs;          // appended verbatim
    std::wstring exePath;            // default: ServerExePath()
};

class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();
    bool Start(const ServerOptions& options = ServerOptions());
    // Bytes up to and including the next "ready:\n" line; everything left
    // when the server ends or the time runs out (then *ready is false).
    std::string ReadUntilReady(DWORD timeoutMs = 20000, bool* ready = nullptr);
    // Everything until the server closes its end of the pipe.
    std::string ReadToEnd(DWORD timeoutMs = 20000);
    bool Write(const std::string& bytes);
    // One request line with its line feed, then the answer up to "ready:\n".
    std::string Request(const std::string& line, DWORD timeoutMs = 20000);
    void CloseInput();
    // The exit code, or STILL_ACTIVE after the time runs out.
    DWORD WaitExit(DWORD timeoutMs = 20000);
    // Ends the server and anything it started (exit code 0xDEAD).
    void Kill();
    DWORD ProcessId() const { return m_tree.ProcessId(); }
    DWORD ThreadId() const { return m_tree.ThreadId(); }
    HANDLE ProcessHandle() const { return m_tree.Process(); }

private:
    static DWORD WINAPI ReaderThread(void* self);
    bool WaitFor(size_t* end, DWORD timeoutMs, bool needReady);

    ProcessTree m_tree;
    HANDLE m_toServer = nullptr;
    HANDLE m_fromServer = nullptr;
    HANDLE m_reader = nullptr;
    HANDLE m_dataEvent = nullptr;
    CRITICAL_SECTION m_lock;
    std::string m_buffer; // written by the reader thread
    size_t m_consumed = 0;
    bool m_eof = false;
};

} // namespace testsupport
