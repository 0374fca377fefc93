// Several persistent servers fed from one queue: every module scanned once,
// the callbacks one at a time, no more servers than modules, a cancel that
// stops the queue, and each server's own dump folder.
#include "build_paths.h"
#include "../client_support.h"
#include "files.h"
#include "scratch_folder.h"
#include "text.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <map>
#include <set>

using namespace clienttest;
using namespace testsupport;
using orvanta::ModuleResult;
using orvanta::PoolCallbacks;
using orvanta::ScanPool;
using orvanta::Status;

namespace {

// Counts the callbacks running at the moment and the most seen at once;
// each callback stays inside a little while, so overlapping ones would meet.
struct Overlap
{
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    void Enter()
    {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now))
        {
        }
        Sleep(20);
    }
    void Leave() { --inside; }
};

TEST(ScanPool, EveryModuleIsFinishedExactlyOnceWithItsOwnResult)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules;
    for (int i = 0; i < 3; i++)
    {
        modules.push_back(scratch.Copy(SamplePath(L"SampleEffect"), L"Effect" + std::to_wstring(i) + L".dll"));
        modules.push_back(scratch.Copy(SamplePath(L"SampleSynth"), L"Synth" + std::to_wstring(i) + L".dll"));
    }
    modules.push_back(scratch / L"Missing.dll");
    std::map<size_t, int> begun, finished;
    std::map<size_t, ModuleResult> results;
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t, size_t module) { begun[module]++; };
    callbacks.onFinish = [&](size_t, size_t module, ModuleResult&& result) {
        finished[module]++;
        results[module] = std::move(result);
    };
    ScanPool pool(RealServer(scratch), 3);
    pool.ScanAll(modules, callbacks);

    ASSERT_EQ(finished.size(), 7u);
    ASSERT_EQ(begun.size(), 7u);
    for (size_t i = 0; i < 7; i++)
    {
        EXPECT_EQ(begun[i], 1) << i;
        EXPECT_EQ(finished[i], 1) << i;
        EXPECT_EQ(results[i].path, modules[i]);
    }
    for (size_t i : {0u, 2u, 4u})
    {
        EXPECT_EQ(results[i].status, Status::ok) << results[i].error;
        ASSERT_EQ(results[i].plugins.size(), 1u);
        EXPECT_EQ(results[i].plugins[0].report.name, "Sample Effect");
    }
    for (size_t i : {1u, 3u, 5u})
    {
        EXPECT_EQ(results[i].status, Status::ok) << results[i].error;
        ASSERT_EQ(results[i].plugins.size(), 1u);
        EXPECT_EQ(results[i].plugins[0].report.name, "Sample Synth");
    }
    EXPECT_EQ(results[6].status, Status::failed);
    // Each result names the server that scanned it, whichever of the three.
    for (size_t i = 0; i < 7; i++)
        EXPECT_EQ(results[i].server, "Orvanta Plugin Scan Server (x64)") << i;
}

TEST(ScanPool, CallbacksNeverRunTwoAtOnce)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules;
    for (int i = 0; i < 8; i++)
        modules.push_back(scratch.Copy(SamplePath(L"SampleEffect"), L"Effect" + std::to_wstring(i) + L".dll"));
    Overlap overlap;
    std::set<size_t> servers;
    int calls = 0;
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t server, size_t) {
        overlap.Enter();
        servers.insert(server);
        calls++;
        overlap.Leave();
    };
    callbacks.onFinish = [&](size_t, size_t, ModuleResult&&) {
        overlap.Enter();
        calls++;
        overlap.Leave();
    };
    ScanPool pool(RealServer(scratch), 4);
    pool.ScanAll(modules, callbacks);
    EXPECT_EQ(calls, 16);
    EXPECT_EQ(overlap.most.load(), 1);
    // More than one server took modules, so the callbacks had the chance to meet.
    EXPECT_GE(servers.size(), 2u);
}

TEST(ScanPool, PoolOfFourForTwoModulesStartsAtMostTwoServers)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules = {SamplePath(L"SampleEffect"), SamplePath(L"SampleSynth")};
    std::set<size_t> servers;
    int finished = 0;
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t server, size_t) { servers.insert(server); };
    callbacks.onFinish = [&](size_t, size_t, ModuleResult&& result) {
        finished++;
        EXPECT_EQ(result.status, Status::ok) << result.error;
    };
    ScanPool pool(RealServer(scratch), 4);
    pool.ScanAll(modules, callbacks);
    EXPECT_EQ(finished, 2);
    for (size_t server : servers)
        EXPECT_LT(server, 2u);
    // A server makes its dump folder when it starts.
    std::vector<std::wstring> folders = ListFolder(scratch / L"dumps");
    EXPECT_FALSE(folders.empty());
    for (const std::wstring& folder : folders)
        EXPECT_TRUE(folder == L"server-1" || folder == L"server-2") << Utf8(folder);
}

TEST(ScanPool, CancelFromOnFinishStopsFurtherModules)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules(5, SamplePath(L"SampleEffect"));
    std::vector<size_t> begun, finished;
    ScanPool pool(RealServer(scratch), 1);
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t, size_t module) { begun.push_back(module); };
    callbacks.onFinish = [&](size_t, size_t module, ModuleResult&&) {
        finished.push_back(module);
        pool.Cancel();
    };
    pool.ScanAll(modules, callbacks);
    EXPECT_EQ(begun, (std::vector<size_t>{0}));
    EXPECT_EQ(finished, (std::vector<size_t>{0}));
}

TEST(ScanPool, NextScanAllAfterACancelScansEverything)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules(3, SamplePath(L"SampleEffect"));
    ScanPool pool(RealServer(scratch), 1);
    int finished = 0;
    PoolCallbacks cancelling;
    cancelling.onFinish = [&](size_t, size_t, ModuleResult&&) {
        finished++;
        pool.Cancel();
    };
    pool.ScanAll(modules, cancelling);
    ASSERT_EQ(finished, 1);
    PoolCallbacks counting;
    counting.onFinish = [&](size_t, size_t, ModuleResult&&) { finished++; };
    pool.ScanAll(modules, counting);
    EXPECT_EQ(finished, 4);
}

TEST(ScanPool, ServersEndBeforeScanAllReturns)
{
    // The test plugin records the process its entry point ran in.
    ScratchFolder scratch;
    std::wstring first = scratch.Copy(FixturePath(L"TestPlugin"), L"First.dll");
    scratch.Write(L"First.cfg", "name=First\nrecordpid=1\n");
    ScanPool pool(RealServer(scratch), 1);
    pool.ScanAll({first}, {});
    std::string events = scratch.Read(L"First.events");
    size_t at = events.find("pid ");
    ASSERT_NE(at, std::string::npos) << events;
    DWORD pid = (DWORD)std::stoul(events.substr(at + 4));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process)
    {
        EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0) << "server " << pid << " still runs";
        CloseHandle(process);
    }
}

TEST(ScanPool, LeftOverThreadCrashOfAServersLastModuleIsBlamedBeforeScanAllReturns)
{
    // Late leaves a thread that crashes its server 300 ms after its scan;
    // Slow keeps the other server busy meanwhile, so Late's server has no
    // more work when the crash comes.
    ScratchFolder scratch;
    std::wstring late = scratch.Copy(FixturePath(L"ClientLateCrash"), L"Late.dll");
    std::wstring slow = scratch.Copy(FixturePath(L"TestPlugin"), L"Slow.dll");
    scratch.Write(L"Slow.cfg", "name=Slow\nsleep=3000\n");
    std::vector<orvanta::Blame> blames;
    std::map<size_t, Status> finished;
    PoolCallbacks callbacks;
    callbacks.onBlame = [&](size_t, const orvanta::Blame& blame) { blames.push_back(blame); };
    callbacks.onFinish = [&](size_t, size_t module, ModuleResult&& result) { finished[module] = result.status; };
    ScanPool pool(RealServer(scratch), 2);
    pool.ScanAll({late, slow}, callbacks);
    EXPECT_EQ(finished, (std::map<size_t, Status>{{0, Status::ok}, {1, Status::ok}}));
    ASSERT_EQ(blames.size(), 1u);
    EXPECT_EQ(blames[0].path, late);
    EXPECT_EQ(blames[0].crash.exceptionCode, 0xC0000005u);
    EXPECT_EQ(blames[0].crash.faultingModule, Utf8(late));
    EXPECT_NE(blames[0].crash.dumpPath.find("\\dumps\\server-"), std::string::npos) << blames[0].crash.dumpPath;
}

TEST(ScanPool, EmptyListStartsNoServer)
{
    ScratchFolder scratch;
    int calls = 0;
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t, size_t) { calls++; };
    ScanPool pool(RealServer(scratch), 4);
    pool.ScanAll({}, callbacks);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(ListFolder(scratch / L"dumps").empty());
}

TEST(ScanPool, ServerCountBelowOneIsOneServer)
{
    ScratchFolder scratch;
    std::vector<std::wstring> modules = {SamplePath(L"SampleEffect"), SamplePath(L"SampleSynth")};
    std::vector<size_t> servers;
    PoolCallbacks callbacks;
    callbacks.onBegin = [&](size_t server, size_t) { servers.push_back(server); };
    ScanPool pool(RealServer(scratch), -3);
    pool.ScanAll(modules, callbacks);
    EXPECT_EQ(servers, (std::vector<size_t>{0, 0}));
    EXPECT_EQ(ListFolder(scratch / L"dumps"), (std::vector<std::wstring>{L"server-1"}));
}

TEST(ScanPool, EachServerHasAFolderOfItsOwnUnderTheDumpFolder)
{
    EXPECT_EQ(ScanPool::ServerDumpFolder(L"C:\\d", 0), L"C:\\d\\server-1");
    EXPECT_EQ(ScanPool::ServerDumpFolder(L"C:\\d\\", 0), L"C:\\d\\server-1");
    EXPECT_EQ(ScanPool::ServerDumpFolder(L"C:\\d", 11), L"C:\\d\\server-12");
    EXPECT_EQ(ScanPool::ServerDumpFolder(L"C:\\d/", 1), L"C:\\d/server-2");
    EXPECT_EQ(ScanPool::ServerDumpFolder(L"", 0), L"");
}

} // namespace
