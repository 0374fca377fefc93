// Modules a server cannot load, scanned through the real server: one built
// for 32-bit x86 never reaches a server, one whose imported DLL is missing
// keeps the server's error and gets the library's explanation beside it.
#include "build_paths.h"
#include "../client_support.h"
#include "processes.h"
#include "scratch_folder.h"
#include <gtest/gtest.h>
#include <windows.h>

using namespace clienttest;
using namespace testsupport;
using orvanta::ModuleResult;
using orvanta::ModuleScanner;
using orvanta::Status;

TEST(LoadProblem, ThirtyTwoBitModuleFailsWithoutAskingAServer)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(FixturePath(L"Client32Bit"));
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
    EXPECT_EQ(r.loadProblem, "32-bit module: built for x86; only 64-bit (x64) modules can be loaded");
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.server, "");
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe"), std::vector<DWORD>{});
}

TEST(LoadProblem, MissingDependencyIsNamedBesideTheServersError)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(FixturePath(L"ClientMissingDep"));
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "Failed to load library, err=126");
    EXPECT_EQ(r.loadProblem, "needs OrvantaMissingDep.dll, not found");
    EXPECT_EQ(r.server, "Orvanta Plugin Scan Server (x64)");
}

TEST(LoadProblem, FileThatIsNoImageStillGoesToTheServer)
{
    ScratchFolder scratch;
    std::wstring text = scratch.Write(L"readme.dll", "not a module");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(text);
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "Failed to load library, err=193");
    EXPECT_EQ(r.loadProblem, "");
    EXPECT_EQ(r.server, "Orvanta Plugin Scan Server (x64)");
}
