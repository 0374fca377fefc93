// Modules built for x86 through the library with both servers configured:
// each module goes to the server of its machine, a 32-bit build's entries
// are its 64-bit twin's apart from the machine, and crashes, hangs and
// dialogs in a 32-bit server end as they do in a 64-bit one. Skipped, with
// the reason, where 32-bit programs do not run.
#include "build_paths.h"
#include "machines.h"
#include "../client_support.h"
#include "database/database_file.h"
#include "desktop.h"
#include "files.h"
#include "processes.h"
#include "scratch_folder.h"
#include "text.h"
#include "vst3_bundle.h"
#include <orvanta/paths.h>
#include <orvanta/scan.h>
#include <gtest/gtest.h>

using namespace clienttest;
using namespace testsupport;
using orvanta::ModuleResult;
using orvanta::ModuleScanner;
using orvanta::Status;

namespace {

const uint32_t AccessViolation = 0xC0000005;

class X86Scan : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!X86ProgramsRun(&why))
            GTEST_SKIP() << why;
    }
    ScratchFolder scratch;
};

// The module's entry as the database writes it, without what differs
// between two builds of one plugin by nature: where it is, its file and
// machine, the time it took, and the VST 2 report's platform.
orvanta::Json EntryApartFromMachine(const ModuleResult& result)
{
    orvanta::ModuleRecord record;
    record.result = result;
    orvanta::Json entry = orvanta::RecordToJson(record);
    for (const char* member : {"path", "binary", "machine", "architectures", "size", "modified", "scanMs"})
        entry.erase(member);
    for (orvanta::Json& plugin : entry["plugins"])
        plugin.erase("platform");
    return entry;
}

} // namespace

TEST_F(X86Scan, EachModuleGoesToTheServerOfItsMachineAndBothServersStayUp)
{
    ModuleScanner scanner(BothServers(scratch));
    ModuleResult x86 = scanner.ScanModule(X86SamplePath(L"SampleEffect"));
    ModuleResult x64 = scanner.ScanModule(SamplePath(L"SampleEffect"));
    ModuleResult synth = scanner.ScanModule(X86SamplePath(L"SampleSynth"));

    ASSERT_EQ(x86.status, Status::ok) << x86.error;
    EXPECT_EQ(x86.machine, "x86");
    EXPECT_EQ(x86.server, "Orvanta Plugin Scan Server (x86)");
    ASSERT_EQ(x86.plugins.size(), 1u);
    EXPECT_EQ(x86.plugins[0].report.name, "Sample Effect");
    EXPECT_EQ(x86.plugins[0].report.platform, "x86");
    ASSERT_EQ(x64.status, Status::ok) << x64.error;
    EXPECT_EQ(x64.machine, "x64");
    EXPECT_EQ(x64.server, "Orvanta Plugin Scan Server (x64)");
    EXPECT_EQ(x64.plugins[0].report.platform, "x64");
    EXPECT_EQ(synth.status, Status::ok) << synth.error;
    // One server of each machine, each kept across its modules.
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe").size(), 1u);
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver32.exe").size(), 1u);
}

TEST_F(X86Scan, ThirtyTwoBitBuildsGiveTheEntriesOfTheir64BitTwinsApartFromTheMachine)
{
    ModuleScanner scanner(BothServers(scratch));
    const std::wstring samples[] = {L"samples\\SampleEffect.dll", L"samples\\SampleSynth.dll",
                                    L"samples\\SampleShell.dll", L"vst3\\Vst3Suite.vst3", L"clap\\ClapSuite.clap",
                                    L"dpf\\DpfGain-vst.dll", L"dpf\\DpfGain.vst3", L"dpf\\DpfGain.clap"};
    for (const std::wstring& sample : samples)
    {
        SCOPED_TRACE(Utf8(sample));
        ModuleResult x86 = scanner.ScanModule(X86BinPath(sample));
        ModuleResult x64 = scanner.ScanModule(BinPath(sample));
        EXPECT_EQ(x86.status, Status::ok) << x86.error;
        EXPECT_EQ(x86.machine, "x86");
        EXPECT_EQ(x64.machine, "x64");
        EXPECT_FALSE(x86.plugins.empty());
        EXPECT_EQ(EntryApartFromMachine(x86), EntryApartFromMachine(x64));
    }
}

TEST_F(X86Scan, CrashInA32BitModuleIsRetriedAndItsDumpNamesTheModule)
{
    ModuleScanner scanner(BothServers(scratch));
    std::wstring plugin = X86FixturePath(L"CrashInEntry");
    ModuleResult r = scanner.ScanModule(plugin);
    EXPECT_EQ(r.status, Status::crashed);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(r.exitCode, 9);
    ASSERT_TRUE(r.crash);
    EXPECT_EQ(r.crash->exceptionCode, AccessViolation);
    EXPECT_EQ(r.crash->faultingModule, Utf8(plugin));
    EXPECT_EQ(r.crash->dumpPath.find(Utf8(scratch / L"dumps") + "\\x86\\ZiveRivedo-x86-"), 0u) << r.crash->dumpPath;
    EXPECT_EQ(r.error, "crashed during the request: exception 0xC0000005 in " + Utf8(plugin));
    ModuleResult next = scanner.ScanModule(X86SamplePath(L"SampleEffect"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST_F(X86Scan, LeftOverThreadOfA32BitModuleIsBlamedOnIt)
{
    std::wstring late = X86FixturePath(L"ClientLateCrash");
    std::wstring slow = scratch.Copy(X86FixturePath(L"ClientSlowOnce"), L"Sleeper.dll");
    scratch.Write(L"Sleeper.once", "");
    ModuleScanner scanner(BothServers(scratch));
    std::vector<orvanta::Blame> blamed;
    orvanta::ScanCallbacks callbacks;
    callbacks.onBlame = [&](const orvanta::Blame& b) { blamed.push_back(b); };
    EXPECT_EQ(scanner.ScanModule(late, callbacks).status, Status::ok);
    ModuleResult second = scanner.ScanModule(slow, callbacks);
    ASSERT_EQ(blamed.size(), 1u);
    EXPECT_EQ(blamed[0].path, late);
    EXPECT_EQ(blamed[0].crash.faultingModule, Utf8(late));
    EXPECT_EQ(second.status, Status::ok) << second.error;
    EXPECT_EQ(second.attempts, 1);
}

TEST_F(X86Scan, DialogOfA32BitModuleIsNamedWhenItsTimeRunsOut)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the message box cannot show";
    ModuleScanner scanner(BothServers(scratch, 4000));
    ModuleResult r = scanner.ScanModule(X86FixturePath(L"ClientMessageBox"));
    EXPECT_EQ(r.status, Status::timeout);
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(r.windows[0].title, "Licence check");
    EXPECT_EQ(r.windows[0].text, "Please insert your dongle");
    EXPECT_EQ(scanner.ScanModule(X86SamplePath(L"SampleEffect")).status, Status::ok);
}

// A bundle for 32-bit hosts only is scanned by the 32-bit server; one with
// both binaries is the 64-bit module a 64-bit host loads, and says it holds
// the other.
TEST_F(X86Scan, BundleIsScannedFromItsX64BinaryElseFromItsX86One)
{
    std::wstring onlyX86 = scratch / L"Only32.vst3", both = scratch / L"Both.vst3";
    MakeFolders(onlyX86 + L"\\Contents\\x86-win");
    MakeFolders(both + L"\\Contents\\x86-win");
    MakeFolders(both + L"\\Contents\\x86_64-win");
    std::wstring x86Binary = X86BinPath(L"vst3\\Vst3Effect.vst3\\Contents\\x86-win\\Vst3Effect.vst3");
    std::wstring x64Binary = BinPath(L"vst3\\Vst3Effect.vst3\\Contents\\x86_64-win\\Vst3Effect.vst3");
    CopyTo(x86Binary, onlyX86 + L"\\Contents\\x86-win", L"Only32.vst3");
    CopyTo(x86Binary, both + L"\\Contents\\x86-win", L"Both.vst3");
    CopyTo(x64Binary, both + L"\\Contents\\x86_64-win", L"Both.vst3");

    ModuleScanner scanner(BothServers(scratch));
    ModuleResult r32 = scanner.ScanModule(onlyX86);
    EXPECT_EQ(r32.status, Status::ok) << r32.error;
    EXPECT_EQ(Utf8(r32.binary), Utf8(onlyX86) + "\\Contents\\x86-win\\Only32.vst3");
    EXPECT_EQ(r32.machine, "x86");
    EXPECT_EQ(r32.server, "Orvanta Plugin Scan Server (x86)");
    EXPECT_EQ(r32.architectures, (std::vector<std::string>{"x86-win"}));
    ModuleResult r64 = scanner.ScanModule(both);
    EXPECT_EQ(r64.status, Status::ok) << r64.error;
    EXPECT_EQ(Utf8(r64.binary), Utf8(both) + "\\Contents\\x86_64-win\\Both.vst3");
    EXPECT_EQ(r64.machine, "x64");
    EXPECT_EQ(r64.architectures, (std::vector<std::string>{"x86_64-win", "x86-win"}));
    EXPECT_EQ(EntryApartFromMachine(r32), EntryApartFromMachine(r64));
}

// Without a 32-bit server (none configured, or the one named is not
// there) no server is asked.
TEST(X86ServerMissing, ThirtyTwoBitModuleFailsUnaskedWithTheReason)
{
    ScratchFolder scratch;
    orvanta::ServerConfig config = RealServer(scratch);
    config.x86ServerExe = scratch / L"scanserver32.exe";
    ModuleScanner scanner(config);
    ModuleResult r = scanner.ScanModule(FixturePath(L"Client32Bit"));
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.error, "32-bit module: built for x86; the 32-bit scan server is missing: " +
                           Utf8(scratch / L"scanserver32.exe"));
    EXPECT_EQ(r.loadProblem, r.error);
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe"), std::vector<DWORD>{});
}

// A 32-bit CLAP module's preset providers run on the 32-bit server and give
// what its 64-bit twin's give.
TEST_F(X86Scan, PresetsOfA32BitClapModuleAreThoseOfIts64BitTwin)
{
    ModuleScanner scanner(BothServers(scratch));
    auto names = [&](const std::wstring& module) {
        std::vector<std::string> list;
        ModuleResult scanned = scanner.ScanModule(module);
        std::optional<orvanta::ModulePresets> presets = scanner.ScanPresets(scanned);
        if (!presets)
            return list;
        for (const orvanta::Preset& preset : presets->presets)
            list.push_back(preset.name + "|" + preset.loadKey + "|" + Utf8(orvanta::FileNameOf(preset.file)));
        return list;
    };
    std::vector<std::string> x86 = names(X86BinPath(L"clap\\ClapPresets.clap"));
    EXPECT_EQ(x86.size(), 10u);
    EXPECT_EQ(x86, names(BinPath(L"clap\\ClapPresets.clap")));
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver32.exe").size(), 1u);
}
