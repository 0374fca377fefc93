// One server process through its real pipes: the outcome of every kind of
// request, the lines collected, and a fresh server after every outcome
// that ended the last one.
#include "build_paths.h"
#include "../client_support.h"
#include "desktop.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>

using namespace clienttest;
using namespace testsupport;
using orvanta::RequestOutcome;
using orvanta::ScanServer;
using orvanta::Status;

namespace {

const uint32_t AccessViolation = 0xC0000005;

TEST(ScanServer, ReadsTheBannerOnTheFirstRequest)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    EXPECT_EQ(server.Banner(), "");
    EXPECT_FALSE(server.Running());
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(server.Banner(), "Orvanta Plugin Scan Server (x64)");
    EXPECT_TRUE(server.Running());
}

TEST(ScanServer, EffectSampleIsOkWithItsReport)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    ASSERT_EQ(out.status, Status::ok) << out.error;
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.exitCode, -1);
    ASSERT_TRUE(out.report);
    EXPECT_EQ(out.report->id, 0x536D4566u);
    EXPECT_EQ(out.report->name, "Sample Effect");
    EXPECT_EQ(out.report->vendor, "Zandrel Software");
    EXPECT_EQ(out.report->product, "Orvanta Samples");
    EXPECT_EQ(out.report->version, "1.1.0.0");
    EXPECT_EQ(out.report->numInputs, 2);
    EXPECT_EQ(out.report->numOutputs, 2);
    EXPECT_TRUE(out.report->audio64);
    EXPECT_EQ(out.report->category, 1);
    ASSERT_FALSE(out.lines.empty());
    EXPECT_EQ(out.report->hasEditor, std::optional<bool>(true));
    EXPECT_EQ(out.lines.front(), "info:Scanning plugin: 'vst2|" + Utf8(SamplePath(L"SampleEffect")) + "'");
    EXPECT_EQ(out.lines.back(), ">:}");
    EXPECT_EQ(CountLines(out.lines, "ready:"), 0);
}

TEST(ScanServer, SynthSampleIsOkAndWantsMidi)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    RequestOutcome out = server.Request(SamplePath(L"SampleSynth"));
    ASSERT_EQ(out.status, Status::ok) << out.error;
    EXPECT_EQ(out.report->id, 0x536D5379u);
    EXPECT_EQ(out.report->name, "Sample Synth");
    EXPECT_EQ(out.report->numInputs, 0);
    EXPECT_EQ(out.report->numOutputs, 2);
    EXPECT_TRUE(out.report->wantsMidi);
    EXPECT_EQ(out.report->category, 2);
}

TEST(ScanServer, ShellSampleListsItsSubPlugins)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    RequestOutcome out = server.Request(SamplePath(L"SampleShell"));
    ASSERT_EQ(out.status, Status::ok) << out.error;
    EXPECT_EQ(out.report->category, 10);
    ASSERT_EQ(out.report->shells.size(), 2u);
    EXPECT_EQ(out.report->shells[0].id, 0x53480001u);
    EXPECT_EQ(out.report->shells[0].name, "Sample Shell Chorus");
    EXPECT_EQ(out.report->shells[1].id, 0x53480002u);
    EXPECT_EQ(out.report->shells[1].name, "Sample Shell Delay");
}

TEST(ScanServer, SubPluginRequestsReuseTheLoadedShell)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    std::wstring shell = SamplePath(L"SampleShell");
    RequestOutcome first = server.Request(shell);
    ASSERT_EQ(first.status, Status::ok) << first.error;
    EXPECT_EQ(CountLines(first.lines, "info:Loading library..."), 1);
    RequestOutcome chorus = server.Request(shell, 0x53480001u);
    RequestOutcome delay = server.Request(shell, 0x53480002u);
    ASSERT_EQ(chorus.status, Status::ok) << chorus.error;
    ASSERT_EQ(delay.status, Status::ok) << delay.error;
    EXPECT_EQ(chorus.lines.front(), "info:Scanning plugin: 'vst2|" + Utf8(shell) + ">53480001'");
    EXPECT_EQ(CountLines(chorus.lines, "info:Re-using previous library instance..."), 1);
    EXPECT_EQ(CountLines(chorus.lines, "info:Loading library..."), 0);
    EXPECT_EQ(CountLines(delay.lines, "info:Re-using previous library instance..."), 1);
    EXPECT_EQ(chorus.report->id, 0x53480001u);
    EXPECT_EQ(chorus.report->name, "Sample Shell Chorus");
    EXPECT_EQ(delay.report->name, "Sample Shell Delay");
    ASSERT_EQ(server.ScannedByThisProcess().size(), 1u);
    EXPECT_EQ(server.ScannedByThisProcess()[0], shell);
}

TEST(ScanServer, MissingFileFailsWithTheServersErrorText)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    RequestOutcome out = server.Request(scratch / L"NoSuch.dll");
    EXPECT_EQ(out.status, Status::failed);
    EXPECT_EQ(out.error, "Failed to load library, err=126");
    ASSERT_TRUE(out.report);
    EXPECT_EQ(out.report->error, "Failed to load library, err=126");
    EXPECT_EQ(CountLines(out.lines, "error:Failed to load library, err=126"), 1);
    EXPECT_TRUE(server.Running());
    RequestOutcome next = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ScanServer, CrashGivesExitCode9AndTheDumpItWrote)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    std::wstring plugin = FixturePath(L"CrashInDispatch");
    RequestOutcome out = server.Request(plugin);
    ASSERT_EQ(out.status, Status::crashed) << out.error;
    EXPECT_EQ(out.exitCode, 9);
    EXPECT_FALSE(out.report);
    ASSERT_TRUE(out.crash);
    EXPECT_EQ(out.crash->dumpPath.find(Utf8(scratch / L"dumps") + "\\ZiveRivedo-x64-"), 0u)
        << out.crash->dumpPath;
    EXPECT_EQ(out.crash->dumpPath.substr(out.crash->dumpPath.size() - 5), ".mdmp");
    EXPECT_EQ(out.crash->exceptionCode, AccessViolation);
    EXPECT_NE(out.crash->address, 0u);
    EXPECT_EQ(out.crash->faultingModule, Utf8(plugin));
    EXPECT_EQ(out.error, "crashed during the request: exception 0xC0000005 in " + Utf8(plugin));
    // The lines written before the crash are kept.
    EXPECT_EQ(out.lines.back(), "info:Audio master callback: 1 - audioMasterVersion");
    EXPECT_FALSE(server.Running());
}

TEST(ScanServer, TimeLimitWaitsForADumpBeingWritten)
{
    // Writing the dump takes several seconds under Wine, far past this
    // limit: the growing file makes it a crash, not a hang.
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch, 3000));
    RequestOutcome out = server.Request(FixturePath(L"CrashInDispatch"));
    EXPECT_EQ(out.status, Status::crashed) << out.error;
    EXPECT_EQ(out.exitCode, 9);
    ASSERT_TRUE(out.crash);
    EXPECT_EQ(out.crash->exceptionCode, AccessViolation);
}

TEST(ScanServer, NextRequestAfterACrashStartsAFreshServer)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    RequestOutcome crash = server.Request(FixturePath(L"CrashInEntry"));
    ASSERT_EQ(crash.status, Status::crashed) << crash.error;
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(out.status, Status::ok) << out.error;
    ASSERT_EQ(server.ScannedByThisProcess().size(), 1u);
    EXPECT_EQ(server.ScannedByThisProcess()[0], SamplePath(L"SampleEffect"));
}

TEST(ScanServer, CrashBetweenRequestsIsTheNextRequestsOutcomeWithTheDump)
{
    // The left-over thread of the first module crashes the idle server; the
    // next request finds it ended, and the dump names the first module.
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    std::wstring late = FixturePath(L"ClientLateCrash");
    ASSERT_EQ(server.Request(late).status, Status::ok);
    for (int i = 0; i < 1200 && server.Running(); i++)
        Sleep(100);
    ASSERT_FALSE(server.Running());
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(out.status, Status::crashed) << out.error;
    EXPECT_EQ(out.exitCode, 9);
    ASSERT_TRUE(out.crash);
    EXPECT_EQ(out.crash->faultingModule, Utf8(late));
    EXPECT_EQ(out.crash->exceptionCode, AccessViolation);
    ASSERT_EQ(server.ScannedByThisProcess().size(), 2u);
    EXPECT_EQ(server.ScannedByThisProcess()[0], late);
    RequestOutcome next = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ScanServer, HangRunsOutOfTimeAndTheNextRequestGoesOn)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch, 3000));
    RequestOutcome out = server.Request(FixturePath(L"ClientHang"));
    EXPECT_EQ(out.status, Status::timeout);
    EXPECT_EQ(out.error, "no answer within 3000 ms");
    EXPECT_TRUE(out.windows.empty());
    EXPECT_GE(out.elapsedMs, 3000u);
    EXPECT_FALSE(server.Running());
    RequestOutcome next = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ScanServer, TimeoutNamesTheMessageBoxAndItsText)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no display: the message box cannot show";
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch, 4000));
    std::vector<std::vector<orvanta::DialogWindow>> seen;
    RequestOutcome out = server.Request(FixturePath(L"ClientMessageBox"), {},
                                        [&](const std::vector<orvanta::DialogWindow>& w) {
                                            seen.push_back(w);
                                        });
    ASSERT_EQ(out.status, Status::timeout) << out.error;
    ASSERT_EQ(out.windows.size(), 1u);
    EXPECT_EQ(out.windows[0].title, "Licence check");
    EXPECT_EQ(out.windows[0].text, "Please insert your dongle");
    EXPECT_EQ(out.error,
              "no answer within 4000 ms, waiting on dialog 'Licence check: Please insert your dongle'");
    // The dialog was reported while the request ran, once, as it appeared,
    // and its end when the request ended.
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[0].size(), 1u);
    EXPECT_EQ(seen[0][0].title, "Licence check");
    EXPECT_EQ(seen[0][0].text, "Please insert your dongle");
    EXPECT_TRUE(seen[1].empty());
}

TEST(ScanServer, StopClosesTheServerTheWayAHostDoes)
{
    ScratchFolder scratch;
    ScanServer server(RealServer(scratch));
    ASSERT_EQ(server.Request(SamplePath(L"SampleShell")).status, Status::ok);
    EXPECT_TRUE(server.Stop());
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(server.Stop());
}

TEST(ScanServer, ServerThatCannotStartIsLost)
{
    ScratchFolder scratch;
    orvanta::ServerConfig config = RealServer(scratch);
    config.serverExe = scratch / L"missing-server.exe";
    ScanServer server(config);
    RequestOutcome out = server.Request(SamplePath(L"SampleEffect"));
    EXPECT_EQ(out.status, Status::lost);
    EXPECT_EQ(out.error, "cannot start the server '" + Utf8(config.serverExe) + "' (error 2)");
}

TEST(ScanServer, ServerEndingBeforeReadyIsLostWithItsExitCode)
{
    ScratchFolder scratch;
    SetEnvironmentVariableW(L"FAKE_SERVER_EXIT", L"5");
    ScanServer server(FakeServer(scratch));
    RequestOutcome out = server.Request(L"C:\\good.dll");
    SetEnvironmentVariableW(L"FAKE_SERVER_EXIT", nullptr);
    EXPECT_EQ(out.status, Status::lost);
    EXPECT_EQ(out.exitCode, 5);
    EXPECT_EQ(out.error, "the server ended while starting with exit code 5");
    EXPECT_FALSE(server.Running());
    RequestOutcome next = server.Request(L"C:\\good.dll");
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

TEST(ScanServer, StopTerminatesAServerThatDoesNotEnd)
{
    ScratchFolder scratch;
    ScanServer server(FakeServer(scratch));
    ASSERT_EQ(server.Request(L"C:\\stubborn.dll").status, Status::ok);
    EXPECT_FALSE(server.Stop());
    EXPECT_FALSE(server.Running());
}

TEST(ScanServer, MalformedBlockIsLostAndTheServerEnded)
{
    ScratchFolder scratch;
    ScanServer server(FakeServer(scratch));
    RequestOutcome out = server.Request(L"C:\\malformed.dll");
    EXPECT_EQ(out.status, Status::lost);
    EXPECT_EQ(out.error, "malformed report: control character in a text at line 3, column 29");
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_FALSE(out.report);
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(server.Banner(), "Fake Scan Server");
    RequestOutcome next = server.Request(L"C:\\good.dll");
    EXPECT_EQ(next.status, Status::ok) << next.error;
    EXPECT_EQ(next.report->name, "Fake Plugin");
}

TEST(ScanServer, AnswerWithoutBlockIsLost)
{
    ScratchFolder scratch;
    ScanServer server(FakeServer(scratch));
    RequestOutcome out = server.Request(L"C:\\noblock.dll");
    EXPECT_EQ(out.status, Status::lost);
    EXPECT_EQ(out.error, "answer without a report block");
    EXPECT_EQ(out.exitCode, 0);
}

TEST(ScanServer, ServerDyingInTheMiddleOfABlockIsLostWithItsExitCode)
{
    ScratchFolder scratch;
    ScanServer server(FakeServer(scratch));
    RequestOutcome out = server.Request(L"C:\\diemid.dll");
    EXPECT_EQ(out.status, Status::lost);
    EXPECT_EQ(out.exitCode, 3);
    EXPECT_EQ(out.error, "the server ended during the request with exit code 3");
    ASSERT_EQ(out.lines.size(), 4u);
    EXPECT_EQ(out.lines[0], "info:Scanning plugin: 'vst2|C:\\diemid.dll'");
    EXPECT_EQ(out.lines[3], ">:  \"name\":      \"Fake");
    EXPECT_FALSE(server.Running());
    RequestOutcome next = server.Request(L"C:\\good.dll");
    EXPECT_EQ(next.status, Status::ok) << next.error;
}

} // namespace
