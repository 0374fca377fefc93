// What the end-to-end tests share beyond the support library: the server's
// banner and ready line, the module-handle mask, builders for the plain log
// lines a host reads, and a fixture that runs the real server with a fresh
// folder of plugin copies and reads the side file in which the test plugin
// records what happened to it. Report blocks are not built here: each test
// writes the exact block it expects.
#pragma once
#include "build_paths.h"
#include "files.h"
#include "machines.h"
#include "pipe_host.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <stdint.h>
#include <string>
#include <vector>

using testsupport::PlatformLine;
using testsupport::ServerTexts;

// Skips the test where the server under test cannot run here: the x86.*
// copies, where 32-bit programs do not run (machines.h says why).
#define SKIP_UNLESS_SERVER_RUNS()                                              \
    do                                                                         \
    {                                                                          \
        std::string whyNot;                                                    \
        if (!testsupport::MachineUnderTestRuns(&whyNot))                       \
            GTEST_SKIP() << whyNot;                                            \
    } while (0)

// The first line of every server (it names the machine under test), and
// the line that ends each answer.
extern const std::string Banner;
extern const std::string Ready;
// The two lines of a cached module being freed.
extern const std::string CachedFlush;

// ------------------------------------------------------------ transcripts

// The module handle is the one varying part of a transcript: each
// "Looking for entry point in module" line whose handle is exactly as many
// upper-case hexadecimal digits as %p prints on the machine under test (16
// for x64, 8 for x86) gets ModulePlaceholder instead (any other
// text is left alone, so a malformed handle still fails the comparison).
extern const std::string ModulePlaceholder;
std::string MaskModuleHandles(const std::string& answer);

// One log line as it arrives: tag, colon, text, line feed.
std::string Info(const std::string& text);
std::string Warn(const std::string& text);
std::string Error(const std::string& text);

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

// "%.8X" of a 32-bit value.
std::string Hex8(uint32_t value);
bool EndsWith(const std::string& text, const std::string& end);
int CountOf(const std::string& text, const std::string& piece);

// ------------------------------------------------------------------ VST3

// The binary of a VST3 fixture bundle:
// bin\vst3\NAME.vst3\Contents\x86_64-win\NAME.vst3 (of the machine under test:
// bin\x86\vst3\NAME.vst3\Contents\x86-win\NAME.vst3 for x86).
std::wstring Vst3Binary(const std::wstring& name);
// A VST3 request line: "vst3|" and the binary's path, then ">" and the
// class ID for a class request.
std::string Vst3Line(const std::wstring& binary, const std::string& cid = "");
// One "info:Phase: NAME" line per name.
std::string PhaseLines(const std::vector<std::string>& names);
// The first line of a module request and of a class request.
std::string Vst3ModuleOpening(const std::string& line);
std::string Vst3ClassOpening(const std::string& line);
// The end of a request that keeps its VST3 module loaded.
extern const std::string Vst3KeepLines;

// ------------------------------------------------------------------ CLAP

// A CLAP fixture module: bin\clap\NAME.clap (of the machine under test).
std::wstring ClapBinary(const std::wstring& name);
// A CLAP request line: "clap|" and the module's path, then ">" and the
// plugin ID for a plugin request.
std::string ClapLine(const std::wstring& module, const std::string& id = "");
// The first line of a module request and of a plugin request.
std::string ClapModuleOpening(const std::string& line);
std::string ClapPluginOpening(const std::string& line);
// The end of a request that keeps its CLAP module loaded.
extern const std::string ClapKeepLines;

// The events the test plugin recorded beside its DLL (X.dll: X.events).
std::string Events(const std::wstring& dllPath);
// The module handle of each load, from the "attach" events, as "%p" shows it.
std::vector<std::string> AttachHandles(const std::wstring& dllPath);

// The real server with a fresh folder (named after the test); each test
// copies the plugins it needs into the folder under their own names.
class ScanTest : public ::testing::Test
{
protected:
    ScanTest();
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
    // close, free, then the given report block.
    std::string PlainAnswer(const std::wstring& dllPath, const std::string& block);
    // The same answer when a cached module is flushed before the load.
    std::string PlainAnswerAfterFlush(const std::wstring& dllPath, const std::string& block);

    testsupport::ScratchFolder folder;
    testsupport::ServerProcess server;
};
