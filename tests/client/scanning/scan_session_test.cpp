// A whole scan as a host runs it: progress on the session's thread, a cancel
// that ends a hanging request at once (and one that comes first), and
// blocked modules that no server ever loads.
#include "build_paths.h"
#include "../client_support.h"
#include "files.h"
#include "processes.h"
#include "scratch_folder.h"
#include "text.h"
#include <orvanta/session.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <chrono>
#include <set>

using namespace clienttest;
using namespace orvanta;
using namespace testsupport;

namespace {

// A folder of plugins, a database beside it and the real server; the
// session is made from them by the test.
struct SessionFixture
{
    ScratchFolder scratch;
    std::wstring plugins;
    PluginDatabase db;
    SessionSetup setup;

    explicit SessionFixture(uint32_t timeoutMs = 60000)
    {
        plugins = scratch / L"plugins";
        CreateDirectoryW(plugins.c_str(), nullptr);
        std::string error;
        EXPECT_TRUE(db.Open(scratch / L"plugins.json", &error)) << error;
        setup.paths = {plugins};
        setup.server = RealServer(scratch, timeoutMs);
    }
    std::wstring Add(const std::wstring& from, const std::wstring& name)
    {
        return scratch.Copy(from, L"plugins\\" + name);
    }
};

std::vector<std::string> Names(const std::vector<std::wstring>& paths)
{
    std::vector<std::string> names;
    for (const std::wstring& path : paths)
        names.push_back(Utf8(path.substr(path.rfind(L'\\') + 1)));
    return names;
}

std::vector<std::string> EntryNames(const PluginDatabase& db)
{
    std::vector<std::wstring> paths;
    for (const ModuleRecord& record : db.Modules())
        paths.push_back(record.result.path);
    return Names(paths);
}

} // namespace

TEST(ScanSession, ScansEveryPlannedModuleWithCallbacksOnTheRunningThreadOnly)
{
    SessionFixture f;
    f.Add(SamplePath(L"SampleEffect"), L"A.dll");
    f.Add(SamplePath(L"SampleSynth"), L"B.dll");
    std::set<DWORD> threads;
    std::vector<std::string> begun, written;
    SessionProgress last;
    size_t planned = 0;
    SessionCallbacks callbacks;
    callbacks.onPlan = [&](const ScanPlan& plan) {
        threads.insert(GetCurrentThreadId());
        planned = plan.toScan.size();
    };
    callbacks.onBegin = [&](size_t, const std::wstring& path) {
        threads.insert(GetCurrentThreadId());
        begun.push_back(Names({path})[0]);
    };
    callbacks.onModule = [&](const ModuleRecord& record) {
        threads.insert(GetCurrentThreadId());
        written.push_back(Names({record.result.path})[0]);
    };
    callbacks.onProgress = [&](const SessionProgress& progress) {
        threads.insert(GetCurrentThreadId());
        last = progress;
    };
    ScanSession session(f.db, f.setup, callbacks);
    SessionOutcome outcome = session.Run();

    EXPECT_EQ(outcome.status, SessionStatus::done);
    EXPECT_EQ(planned, 2u);
    EXPECT_EQ(begun, (std::vector<std::string>{"A.dll", "B.dll"}));
    EXPECT_EQ(written, (std::vector<std::string>{"A.dll", "B.dll"}));
    EXPECT_EQ(last.done, 2u);
    EXPECT_EQ(last.total, 2u);
    EXPECT_EQ(last.scanning, (std::vector<std::wstring>{L""}));
    EXPECT_EQ(threads, (std::set<DWORD>{GetCurrentThreadId()}));
    EXPECT_EQ(EntryNames(f.db), (std::vector<std::string>{"A.dll", "B.dll"}));
}

TEST(ScanSession, CancelEndsAHangingRequestAtOnceAndKeepsWhatFinished)
{
    // A 60 s limit: only the cancel can end the hang in time.
    SessionFixture f(60000);
    f.Add(SamplePath(L"SampleEffect"), L"A.dll");
    f.Add(SamplePath(L"SampleHang"), L"B.dll");
    f.Add(SamplePath(L"SampleSynth"), L"C.dll");
    std::chrono::steady_clock::time_point cancelled;
    SessionCallbacks callbacks;
    ScanSession* self = nullptr;
    callbacks.onBegin = [&](size_t, const std::wstring& path) {
        if (Names({path})[0] != "B.dll")
            return;
        Sleep(1000); // the request is in flight
        cancelled = std::chrono::steady_clock::now();
        self->Cancel();
    };
    ScanSession session(f.db, f.setup, callbacks);
    self = &session;
    ASSERT_TRUE(session.Start());
    SessionOutcome outcome = session.Wait();
    auto took = std::chrono::steady_clock::now() - cancelled;

    EXPECT_EQ(outcome.status, SessionStatus::cancelled);
    EXPECT_EQ(Names(outcome.notScanned), (std::vector<std::string>{"B.dll", "C.dll"}));
    EXPECT_LT(took, std::chrono::seconds(20)) << "the hang was waited out";
    EXPECT_EQ(EntryNames(f.db), (std::vector<std::string>{"A.dll"}));
    EXPECT_EQ(ChildProcesses(GetCurrentProcessId(), L"scanserver.exe"), std::vector<DWORD>{});
}

TEST(ScanSession, CancelBeforeTheRunChangesNothing)
{
    SessionFixture f;
    std::wstring kept = f.Add(SamplePath(L"SampleEffect"), L"A.dll");
    std::string error;
    // An entry whose file is gone would be dropped by a run.
    ASSERT_TRUE(f.db.Record(ScannedRecord(f.plugins + L"\\Gone.dll"), &error)) << error;
    std::string before = f.scratch.Read(L"plugins.json");
    bool planned = false;
    SessionCallbacks callbacks;
    callbacks.onPlan = [&](const ScanPlan&) { planned = true; };
    ScanSession session(f.db, f.setup, callbacks);
    session.Cancel();
    SessionOutcome outcome = session.Run();

    EXPECT_EQ(outcome.status, SessionStatus::cancelled);
    EXPECT_EQ(outcome.notScanned, (std::vector<std::wstring>{kept}));
    EXPECT_FALSE(planned);
    EXPECT_EQ(f.scratch.Read(L"plugins.json"), before);
}

TEST(ScanSession, BlockedModuleIsPlannedAsBlockedAndNeverLoaded)
{
    SessionFixture f;
    std::wstring crash = f.Add(SamplePath(L"SampleCrash"), L"Crash.dll");
    f.Add(SamplePath(L"SampleEffect"), L"Effect.dll");
    std::string error;
    ASSERT_TRUE(f.db.Block({crash}, "crashes every host", &error)) << error;
    ScanSession session(f.db, f.setup);
    SessionOutcome outcome = session.Run();

    EXPECT_EQ(outcome.status, SessionStatus::done);
    ASSERT_EQ(outcome.plan.blocked.size(), 1u);
    EXPECT_EQ(outcome.plan.blocked[0].path, crash);
    EXPECT_EQ(EntryNames(f.db), (std::vector<std::string>{"Effect.dll"}));
    EXPECT_EQ(FilesUnder(f.scratch / L"dumps"), std::vector<std::wstring>{});
}
