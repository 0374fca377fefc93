// Shared pieces of the end-to-end scan tests: a fixture that runs the real
// server with a fresh folder of plugin copies, builders for the exact log
// lines and report blocks a host reads, and access to the side file in
// which the test plugin records what happened to it.
#pragma once
#include "pipe_host.h"
#include <gtest/gtest.h>
#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

// A new empty folder under the temporary folder, deleted with its files at
// the end.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    // Makes the folder; the name may hold any Unicode characters.
    bool Create(const std::wstring& name);
    const std::wstring& Path() const { return m_path; } // ends with a backslash

private:
    std::wstring m_path;
};

// Everything a report block shows. Texts are the plugin's bytes; the block
// builder escapes them the way a host expects to read them.
struct Report
{
    uint32_t id = 0;
    std::string name, vendor, product, version, error;
    int numInputs = 0;
    int numOutputs = 0;
    bool wantsMidi = false;
    bool sendsMidi = false;
    bool audio64 = false;
    int category = -1;
    bool synthEdit = false;
    std::vector<std::pair<uint32_t, std::string>> shells;
};

// The escaped form of a text whose every byte is one 16-bit unit.
std::string JsonEscape(const std::string& bytes);
// The whole report block as it arrives on the pipe, ">:" tags included.
std::string ReportBlock(const Report& report);

// One log line as it arrives: tag, colon, text, line feed.
std::string Info(const std::string& text);
std::string Warn(const std::string& text);
std::string Error(const std::string& text);
extern const std::string Ready;
// The two lines of a cached module being freed.
extern const std::string CachedFlush;

// "Scanning plugin" and "Loading library...".
std::string LoadLines(const std::string& request);
// "Scanning plugin" and "Re-using previous library instance...".
std::string ReuseLines(const std::string& request);
// The probe up to the entry point call, with the module handle as %p prints it.
std::string EntryLines(const std::string& handle, bool viaMain = false);
// One host callback call that the server answers, or one it does not.
std::string CallbackLine(int opcode, const std::string& name);
std::string UnhandledLines(int opcode, const std::string& name);
// "Dispatching effClose..." and the end of a request that frees the module,
// or keeps it.
std::string CloseAndFreeLines();
std::string CloseAndKeepLines();
std::string FreeLines();
std::string KeepLines();

// For modules that do not record their handle: the 16 hexadecimal digits of
// each "Looking for entry point" line become "HANDLE" (other text is left
// alone, so a malformed handle still fails the comparison).
std::string MaskModuleHandles(const std::string& answer);

// "%.8X" of a 32-bit value.
std::string Hex8(uint32_t value);
std::string Utf8(const std::wstring& text);
bool EndsWith(const std::string& text, const std::string& end);

// The events the test plugin recorded beside its DLL (X.dll: X.events).
std::string Events(const std::wstring& dllPath);
// The module handle of each load, from the "attach" events, as "%p" shows it.
std::vector<std::string> AttachHandles(const std::wstring& dllPath);

// The real server with a fresh folder; each test copies the plugins it
// needs into the folder under their own names.
class ScanTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Copies bin/plugins/<variant>.dll as <name>.dll and writes <name>.cfg.
    std::wstring Plugin(const std::string& name, const std::string& config,
                        const std::wstring& variant = L"TestPlugin");
    // One request line and the whole answer up to the next "ready:\n".
    std::string Scan(const std::wstring& request, DWORD timeoutMs = 30000);
    std::string Scan(const std::string& requestUtf8, DWORD timeoutMs = 30000);
    // The first module handle that the plugin recorded.
    std::string Handle(const std::wstring& dllPath);
    // A plain plugin's whole answer when nothing calls back: load, probe,
    // close, free, report.
    std::string PlainAnswer(const std::wstring& dllPath, const Report& report);
    // The same answer when a cached module is flushed before the load.
    std::string PlainAnswerAfterFlush(const std::wstring& dllPath, const Report& report);

    TempFolder folder;
    ServerProcess server;
};
