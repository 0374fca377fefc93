// Modules scanned one after the other on one server: shells expanded with
// one load, crashes retried and attributed by their dump, time-outs
// recorded with the dialog they waited on, and the scan going on after
// every one of them.
#include "build_paths.h"
#include "../client_support.h"
#include "desktop.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <thread>

using namespace clienttest;
using namespace testsupport;
using orvanta::Blame;
using orvanta::ModuleResult;
using orvanta::ModuleScanner;
using orvanta::ScanCallbacks;
using orvanta::Status;

namespace {

const uint32_t AccessViolation = 0xC0000005;

TEST(ModuleScanner, EffectSampleIsOneOkPluginInOneAttempt)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(SamplePath(L"SampleEffect"));
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.path, SamplePath(L"SampleEffect"));
    EXPECT_EQ(r.attempts, 1);
    EXPECT_FALSE(r.exitCode);
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_FALSE(r.plugins[0].shellId);
    EXPECT_EQ(r.plugins[0].status, Status::ok);
    EXPECT_EQ(r.plugins[0].report.name, "Sample Effect");
    EXPECT_EQ(r.server, "Orvanta Plugin Scan Server (x64)");
}

TEST(ModuleScanner, ShellSampleExpandsIntoItsSubPlugins)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(SamplePath(L"SampleShell"));
    ASSERT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 3u);
    EXPECT_FALSE(r.plugins[0].shellId);
    EXPECT_EQ(r.plugins[0].report.name, "Sample Shell");
    EXPECT_EQ(r.plugins[0].report.category, 10);
    EXPECT_EQ(r.plugins[1].shellId, 0x53480001u);
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(r.plugins[1].report.id, 0x53480001u);
    EXPECT_EQ(r.plugins[1].report.name, "Sample Shell Chorus");
    EXPECT_EQ(r.plugins[1].report.category, 1);
    EXPECT_EQ(r.plugins[2].shellId, 0x53480002u);
    EXPECT_EQ(r.plugins[2].report.name, "Sample Shell Delay");
}

TEST(ModuleScanner, ShellIsLoadedOncePerServer)
{
    // The configurable test plugin records each load ("attach ...") and
    // each entry point call beside itself.
    ScratchFolder scratch;
    std::wstring shell = scratch.Copy(FixturePath(L"TestPlugin"), L"OnceShell.dll");
    scratch.Write(L"OnceShell.cfg", "name=Once Shell\nid=0x4F6E6365\ncategory=10\nshellbyid=1\n"
                                    "shell=0x11 First\nshell=0x22 Second\nshell=0x33 Third\n");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(shell);
    ASSERT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 4u);
    EXPECT_EQ(r.plugins[1].report.name, "First");
    EXPECT_EQ(r.plugins[2].report.name, "Second");
    EXPECT_EQ(r.plugins[3].report.name, "Third");
    std::string events = scratch.Read(L"OnceShell.events");
    size_t attaches = 0, entries = 0;
    for (size_t at = 0; (at = events.find("attach ", at)) != std::string::npos; at++)
        attaches++;
    for (size_t at = 0; (at = events.find("entry\n", at)) != std::string::npos; at++)
        entries++;
    EXPECT_EQ(attaches, 1u) << events;
    EXPECT_EQ(entries, 4u) << events;
}

TEST(ModuleScanner, EscapedTextsRoundTripIntoTheResult)
{
    ScratchFolder scratch;
    std::wstring plugin = scratch.Copy(FixturePath(L"TestPlugin"), L"Escapes.dll");
    // Quotes, backslashes, a slash, control characters and bytes 128-255
    // (each byte is one character of the same value).
    scratch.Write(L"Escapes.cfg", "name=q\"b\\\\s/\\t\\n\\r\\b\\f\\x01\\x7F\\x80\\xE9\\xFF\n"
                                  "vendor=Caf\\xC3\\xA9\nid=0x45736331\ncategory=1\n");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(plugin);
    ASSERT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].report.name,
              "q\"b\\s/\t\n\r\b\f\x01\x7F\xC2\x80\xC3\xA9\xC3\xBF");
    EXPECT_EQ(r.plugins[0].report.vendor, "Caf\xC3\x83\xC2\xA9");
}

TEST(ModuleScanner, NonAsciiPathIsRequestedAsUtf8)
{
    ScratchFolder scratch;
    std::wstring plugin = scratch.Copy(SamplePath(L"SampleEffect"), L"\u00dcmlaut \u52b9\u679c.dll");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(plugin);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.path, plugin);
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].report.name, "Sample Effect");
}

TEST(ModuleScanner, MissingFileIsFailedWithTheServersText)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(scratch / L"Gone.dll");
    EXPECT_EQ(r.status, Status::failed);
    EXPECT_EQ(r.error, "Failed to load library, err=126");
    EXPECT_EQ(r.attempts, 1);
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].status, Status::failed);
}

TEST(ModuleScanner, RepeatableCrashIsRetriedOnceThenRecordedAndTheScanGoesOn)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch));
    std::wstring plugin = FixturePath(L"CrashInEntry");
    ModuleResult r = scanner.ScanModule(plugin);
    EXPECT_EQ(r.status, Status::crashed);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(r.exitCode, 9);
    ASSERT_TRUE(r.crash);
    EXPECT_EQ(r.crash->exceptionCode, AccessViolation);
    EXPECT_EQ(r.crash->faultingModule, Utf8(plugin));
    EXPECT_EQ(r.crash->dumpPath.find(Utf8(scratch / L"dumps") + "\\ZiveRivedo-x64-"), 0u) << r.crash->dumpPath;
    EXPECT_FALSE(r.crash->leftOverThread);
    EXPECT_EQ(r.error, "crashed during the request: exception 0xC0000005 in " + Utf8(plugin));
    EXPECT_TRUE(r.plugins.empty());
    ModuleResult next = scanner.ScanModule(SamplePath(L"SampleEffect"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ModuleScanner, RetriesFollowTheConfiguredCount)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch), 0);
    ModuleResult r = scanner.ScanModule(FixturePath(L"CrashInEntry"));
    EXPECT_EQ(r.status, Status::crashed);
    EXPECT_EQ(r.attempts, 1);
}

TEST(ModuleScanner, OneOffCrashIsOkOnTheSecondAttempt)
{
    ScratchFolder scratch;
    std::wstring plugin = scratch.Copy(FixturePath(L"ClientCrashOnce"), L"Flaky.dll");
    scratch.Write(L"Flaky.once", "");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(plugin);
    EXPECT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.attempts, 2);
    EXPECT_FALSE(r.crash);
    ASSERT_EQ(r.plugins.size(), 1u);
    EXPECT_EQ(r.plugins[0].report.name, "Client Fixture");
}

TEST(ModuleScanner, HangIsATimeoutNotRetriedAndTheScanGoesOn)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch, 3000));
    ModuleResult r = scanner.ScanModule(FixturePath(L"ClientHang"));
    EXPECT_EQ(r.status, Status::timeout);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.error, "no answer within 3000 ms");
    EXPECT_FALSE(r.exitCode);
    ModuleResult next = scanner.ScanModule(SamplePath(L"SampleSynth"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ModuleScanner, MessageBoxTitleAndTextAreRecorded)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the message box cannot show";
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch, 4000));
    std::string shown;
    ScanCallbacks callbacks;
    callbacks.onDialog = [&](const std::vector<orvanta::DialogWindow>& windows) {
        for (const auto& w : windows)
            shown += w.title + "|";
    };
    ModuleResult r = scanner.ScanModule(FixturePath(L"ClientMessageBox"), callbacks);
    EXPECT_EQ(r.status, Status::timeout);
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(r.windows[0].title, "Licence check");
    EXPECT_EQ(r.windows[0].text, "Please insert your dongle");
    EXPECT_EQ(shown, "Licence check|");
}

TEST(ModuleScanner, CrashingSubPluginIsRecordedAloneAndItsSiblingsAreScanned)
{
    ScratchFolder scratch;
    std::wstring shell = FixturePath(L"ClientShellBadSub");
    ModuleScanner scanner(RealServer(scratch));
    ModuleResult r = scanner.ScanModule(shell);
    ASSERT_EQ(r.status, Status::ok) << r.error;
    EXPECT_EQ(r.attempts, 1);
    ASSERT_EQ(r.plugins.size(), 4u);
    EXPECT_EQ(r.plugins[0].report.name, "Client Shell");
    EXPECT_EQ(r.plugins[1].shellId, 0x436C5331u);
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(r.plugins[1].report.name, "Sub One");
    EXPECT_EQ(r.plugins[2].shellId, 0x436C5332u);
    EXPECT_EQ(r.plugins[2].status, Status::crashed);
    EXPECT_EQ(r.plugins[2].attempts, 2);
    EXPECT_EQ(r.plugins[2].error,
              "crashed during the request: exception 0xC0000005 in " + Utf8(shell));
    EXPECT_EQ(r.plugins[2].report.id, 0x436C5332u);
    EXPECT_EQ(r.plugins[2].report.name, "Sub Two");
    EXPECT_EQ(r.plugins[3].shellId, 0x436C5333u);
    EXPECT_EQ(r.plugins[3].status, Status::ok);
    EXPECT_EQ(r.plugins[3].report.name, "Sub Three");
}

TEST(ModuleScanner, HangingSubPluginIsATimeoutAndItsSiblingsAreScanned)
{
    ScratchFolder scratch;
    ModuleScanner scanner(RealServer(scratch, 3000));
    ModuleResult r = scanner.ScanModule(FixturePath(L"ClientShellHangSub"));
    ASSERT_EQ(r.status, Status::ok) << r.error;
    ASSERT_EQ(r.plugins.size(), 4u);
    EXPECT_EQ(r.plugins[1].status, Status::ok);
    EXPECT_EQ(r.plugins[1].report.name, "Sub One");
    EXPECT_EQ(r.plugins[2].shellId, 0x436C5332u);
    EXPECT_EQ(r.plugins[2].status, Status::timeout);
    EXPECT_EQ(r.plugins[2].attempts, 1);
    EXPECT_EQ(r.plugins[2].error, "no answer within 3000 ms");
    EXPECT_EQ(r.plugins[2].report.name, "Sub Two");
    EXPECT_EQ(r.plugins[3].status, Status::ok);
    EXPECT_EQ(r.plugins[3].report.name, "Sub Three");
}

TEST(ModuleScanner, LeftOverThreadCrashIsBlamedOnTheEarlierModule)
{
    // The late-crash module scans cleanly; its thread dies 300 ms later,
    // while the next module sleeps in its entry point (once), and the dump
    // takes a few seconds to write. The sleeper is then scanned again.
    ScratchFolder scratch;
    std::wstring late = FixturePath(L"ClientLateCrash");
    std::wstring slow = scratch.Copy(FixturePath(L"ClientSlowOnce"), L"Sleeper.dll");
    scratch.Write(L"Sleeper.once", "");
    ModuleScanner scanner(RealServer(scratch, 60000));
    std::vector<Blame> blamed;
    ScanCallbacks callbacks;
    callbacks.onBlame = [&](const Blame& b) { blamed.push_back(b); };
    ModuleResult first = scanner.ScanModule(late, callbacks);
    EXPECT_EQ(first.status, Status::ok) << first.error;
    ModuleResult second = scanner.ScanModule(slow, callbacks);
    ASSERT_EQ(blamed.size(), 1u);
    EXPECT_EQ(blamed[0].path, late);
    EXPECT_EQ(blamed[0].crash.faultingModule, Utf8(late));
    EXPECT_EQ(blamed[0].crash.exceptionCode, AccessViolation);
    EXPECT_EQ(blamed[0].crash.dumpPath.find(Utf8(scratch / L"dumps") + "\\"), 0u);
    EXPECT_EQ(second.status, Status::ok) << second.error;
    EXPECT_EQ(second.attempts, 1);
    EXPECT_FALSE(second.crash);
    ASSERT_EQ(second.plugins.size(), 1u);
    EXPECT_EQ(second.plugins[0].report.name, "Client Fixture");
}

TEST(ModuleScanner, ScannersOnTwoThreadsKeepTheirOwnServersAndDumps)
{
    ScratchFolder one, two;
    ModuleResult crash, shell, effect;
    std::thread first([&] {
        ModuleScanner scanner(RealServer(one), 0);
        crash = scanner.ScanModule(FixturePath(L"CrashInDispatch"));
    });
    std::thread second([&] {
        ModuleScanner scanner(RealServer(two), 0);
        shell = scanner.ScanModule(SamplePath(L"SampleShell"));
        effect = scanner.ScanModule(SamplePath(L"SampleEffect"));
    });
    first.join();
    second.join();
    EXPECT_EQ(crash.status, Status::crashed) << crash.error;
    ASSERT_TRUE(crash.crash);
    EXPECT_EQ(crash.crash->dumpPath.find(Utf8(one / L"dumps") + "\\"), 0u) << crash.crash->dumpPath;
    EXPECT_EQ(crash.crash->faultingModule, Utf8(FixturePath(L"CrashInDispatch")));
    EXPECT_EQ(shell.status, Status::ok) << shell.error;
    EXPECT_EQ(shell.plugins.size(), 3u);
    EXPECT_EQ(effect.status, Status::ok) << effect.error;
}

TEST(ModuleScanner, MalformedAnswerIsLostWithTheExitCode)
{
    ScratchFolder scratch;
    ModuleScanner scanner(FakeServer(scratch));
    ModuleResult r = scanner.ScanModule(L"C:\\malformed.dll");
    EXPECT_EQ(r.status, Status::lost);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.error, "malformed report: control character in a text at line 3, column 29");
    ModuleResult died = scanner.ScanModule(L"C:\\diemid.dll");
    EXPECT_EQ(died.status, Status::lost);
    EXPECT_EQ(died.exitCode, 3);
    ModuleResult good = scanner.ScanModule(L"C:\\good.dll");
    EXPECT_EQ(good.status, Status::ok) << good.error;
}

} // namespace
