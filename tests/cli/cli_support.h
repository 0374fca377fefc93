// Support for the host-side tests: scratch folders, files and their times,
// the fixture DLLs, and the real orvanta-scan.exe run as a child process
// with its standard output and error captured.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <nlohmann/json.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

// A fresh folder under the temporary folder, deleted with everything in it.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::wstring& Path() const { return m_path; }
    // Path + "\" + name.
    std::wstring operator/(const std::wstring& name) const;

private:
    std::wstring m_path;
};

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
void MakeFolder(const std::wstring& path);
// Sets the last-write time (100 ns units since 1601, UTC).
void SetLastWrite(const std::wstring& path, uint64_t fileTime);
// Every file under a folder, as paths relative to it ("server-1\a.mdmp"),
// sorted; folders themselves are not listed.
std::vector<std::wstring> FilesUnder(const std::wstring& folder);
// The names of the folders directly in a folder, sorted.
std::vector<std::wstring> SubFolders(const std::wstring& folder);
// The lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::wstring& path);
// A standard parser's reading of a file; a parse error fails the test.
nlohmann::json ReadJson(const std::wstring& path);

// Fixture DLLs of the build: bin\samples\<name>.dll and bin\plugins\<name>.dll.
std::wstring Sample(const std::wstring& name);
std::wstring Plugin(const std::wstring& name);
// Copies a fixture to folder\as (keeping its last-write time).
std::wstring CopyTo(const std::wstring& from, const std::wstring& folder, const std::wstring& as);

// A running process started by parent with that file name; 0 when none.
DWORD ChildProcessId(DWORD parent, const std::wstring& exeName);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// The real command-line tool, started with CreateProcessW.
class ToolProcess
{
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    bool Start(const std::vector<std::wstring>& args);
    // Waits for the end and the last output; the exit code, or STILL_ACTIVE.
    DWORD Wait(DWORD timeoutMs = 280000);
    void Kill();
    HANDLE Handle() const { return m_process; }
    // What it wrote so far.
    std::string Out();
    std::string Err();

private:
    static DWORD WINAPI Reader(void* context);
    struct Stream
    {
        HANDLE pipe = nullptr;
        HANDLE thread = nullptr;
        CRITICAL_SECTION* lock = nullptr;
        std::string bytes;
    };
    CRITICAL_SECTION m_lock;
    bool m_lockMade = false;
    HANDLE m_process = nullptr;
    Stream m_out, m_err;
};

struct ToolRun
{
    DWORD exitCode = STILL_ACTIVE;
    std::string out, err;
};
// Runs orvanta-scan.exe to its end.
ToolRun RunTool(const std::vector<std::wstring>& args);

} // namespace clitest
