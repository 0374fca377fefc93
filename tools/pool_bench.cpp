// Prints how fast orvanta-scan gets through a folder with 1, 2 and one
// server per processor, against one server process per module (start, one
// module, close: the way most scanners work), and what the client library
// adds to a request over the server's own time.
//   pool_bench [--copies N] [--repeats N] [--single N] [--requests N]
//   pool_bench --overhead-only 1 [--requests N] [--repeats N]   (only the client's overhead)
//   pool_bench --db-write FILE   (times one rewrite of a copy of a database)
// It also times a cancel: a scan session whose server hangs in a plugin
// under a 30 s limit, from Cancel to the session's end.
// Two folders, both in pool-bench\ beside the bin folder:
//   copies   N copies of the sample effect under distinct names (default 200);
//   samples  the bundled samples the demo scans (effect, synth, a shell with
//            two sub-plugins, one that crashes, one that hangs, one that
//            waits on a dialog), with a 2 s time limit.
// The process-per-module rows of the copies folder scan the first 20 copies
// (--single): each of those servers takes about 2 s to end under Wine once
// it has shown its badge, so all 200 would take minutes for the same rate.
// Every figure of a folder comes from the same run of this program. Each
// orvanta-scan run gets a fresh database and dump folder; its time is from
// process start to exit. The process-per-module runs use the client
// library's ModuleScanner, one per module, so they do the same work per
// module as orvanta-scan (a shell's sub-plugins in the module's server, a
// crash tried once more in a fresh server) with a server of their own.
#include "bench_clock.h"
#include "build_paths.h"
#include "files.h"
#include "server_process/scan_server.h"
#include <orvanta/database.h>
#include <orvanta/session.h>
#include "pipe_host.h"
#include "processes.h"
#include "text.h"
#include <shellapi.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using testsupport::BinPath;
using testsupport::ListFolder;
using testsupport::RemoveTree;
using testsupport::SamplePath;
using testsupport::ServerExePath;
using testsupport::ServerProcess;
using testsupport::Utf8;

namespace {

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The .dll files directly in a folder, sorted.
std::vector<std::wstring> DllsIn(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    for (const std::wstring& name : ListFolder(folder))
        if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".dll") == 0)
            files.push_back(folder + L"\\" + name);
    return files;
}

struct Folder
{
    std::string name;
    std::wstring path;
    std::vector<std::wstring> modules;
    double timeoutSeconds = 30;
};

struct ToolRun
{
    double seconds = -1; // -1: did not run
    DWORD exitCode = 0;
};

class Bench
{
public:
    Bench(std::wstring scratch) : m_scratch(std::move(scratch)) {}

    // orvanta-scan over the folder, jobs 0 meaning "no -j option".
    ToolRun Tool(const Folder& folder, int jobs)
    {
        std::wstring run = m_scratch + L"\\run" + std::to_wstring(++m_runs);
        RemoveTree(run);
        CreateDirectoryW(run.c_str(), nullptr);
        wchar_t timeout[32];
        swprintf(timeout, 32, L"%g", folder.timeoutSeconds);
        std::vector<std::wstring> args = {L"--quiet", L"--db", run + L"\\db.json", L"--dumps", run + L"\\dumps",
                                          L"--timeout", timeout};
        if (jobs > 0)
            args.insert(args.end(), {L"-j", std::to_wstring(jobs)});
        args.push_back(folder.path);
        return RunTool(args);
    }

    // One ModuleScanner (so one server process) per module, 'parallel' at once.
    double ProcessPerModule(const Folder& folder, size_t count, int parallel, size_t* notOk)
    {
        count = std::min(count, folder.modules.size());
        std::wstring run = m_scratch + L"\\run" + std::to_wstring(++m_runs);
        RemoveTree(run);
        CreateDirectoryW(run.c_str(), nullptr);
        std::atomic<size_t> next{0}, bad{0};
        auto worker = [&](int index) {
            orvanta::ServerConfig config;
            config.serverExe = ServerExePath();
            config.dumpFolder = run + L"\\dumps" + std::to_wstring(index);
            config.timeoutMs = (uint32_t)(folder.timeoutSeconds * 1000);
            for (size_t i = next++; i < count; i = next++)
            {
                orvanta::ModuleScanner scanner(config);
                orvanta::ModuleResult result = scanner.ScanModule(folder.modules[i]);
                if (orvanta::HasProblem(result))
                    bad++;
            } // each scanner closes its server and waits for it to end
        };
        double start = Now();
        std::vector<std::thread> threads;
        for (int t = 0; t < parallel; t++)
            threads.emplace_back(worker, t);
        for (std::thread& t : threads)
            t.join();
        *notOk = bad;
        return Now() - start;
    }

    bool HasJobsOption()
    {
        testsupport::ProcessRun help;
        return RunTool({L"--help"}, &help).seconds >= 0 && help.out.find("--jobs") != std::string::npos;
    }

private:
    // orvanta-scan to its end, timed from its start; what it wrote on its
    // standard error is passed on to this program's.
    ToolRun RunTool(const std::vector<std::wstring>& args, testsupport::ProcessRun* output = nullptr)
    {
        ToolRun result;
        testsupport::ProcessRun run;
        double start = Now();
        try
        {
            run = testsupport::RunCaptured(BinPath(L"orvanta-scan.exe"), args, INFINITE);
        }
        catch (const std::exception& e)
        {
            fprintf(stderr, "pool_bench: %s\n", e.what());
            return result;
        }
        result.seconds = Now() - start;
        result.exitCode = run.exitCode;
        fwrite(run.err.data(), 1, run.err.size(), stderr);
        if (output)
            *output = run;
        return result;
    }

    std::wstring m_scratch;
    int m_runs = 0;
};

// Client-side time of one request through ScanServer against the server's
// time per scan through the bare pipe host (as tools/bench measures it).
// Both servers run side by side and take turns in blocks of 30 requests,
// so a load that comes and goes on the machine falls on both alike.
struct Overhead
{
    double clientMs = -1;       // mean of ScanServer::Request, request written to report parsed
    double serverMs = -1;       // mean per scan through the pipe host (tests/support)
    double clientMedianMs = -1; // the same, median of single requests
    double serverMedianMs = -1;
};

Overhead MeasureOverhead(const std::wstring& plugin, int requests)
{
    Overhead o;
    orvanta::ServerConfig config;
    config.serverExe = ServerExePath();
    orvanta::ScanServer client(config);
    ServerProcess bare;
    if (client.Request(plugin).status != orvanta::Status::ok || !bare.Start())
        return o; // the first request starts the server and warms the file cache
    std::string request = Utf8(plugin);
    bare.ReadUntilReady();
    bare.Request(request);
    std::vector<double> clientTimes, serverTimes;
    const int block = 30;
    for (int done = 0; done < requests; done += block)
    {
        int n = std::min(block, requests - done);
        for (int i = 0; i < n; i++)
        {
            double start = Now();
            orvanta::RequestOutcome outcome = client.Request(plugin);
            clientTimes.push_back(Now() - start);
            if (outcome.status != orvanta::Status::ok)
                return o;
        }
        for (int i = 0; i < n; i++)
        {
            double start = Now();
            bare.Request(request);
            serverTimes.push_back(Now() - start);
        }
    }
    bare.CloseInput();
    bare.WaitExit();
    auto mean = [](const std::vector<double>& v) {
        double total = 0;
        for (double x : v)
            total += x;
        return total / v.size();
    };
    o.clientMs = mean(clientTimes) * 1e3;
    o.serverMs = mean(serverTimes) * 1e3;
    o.clientMedianMs = Median(clientTimes) * 1e3;
    o.serverMedianMs = Median(serverTimes) * 1e3;
    return o;
}

// One server's life as the process-per-module rows live it: start to the
// first "ready:", one scan, request pipe closed to process end (with its
// badge shown, tearing the window down takes most of that under Wine).
struct Lifecycle
{
    double startMs = 0, scanMs = 0, exitMs = 0;
};

Lifecycle MeasureLifecycle(const std::string& request)
{
    Lifecycle life;
    ServerProcess server;
    double start = Now();
    if (!server.Start())
        return Lifecycle{-1, -1, -1};
    server.ReadUntilReady();
    double ready = Now();
    server.Request(request);
    double scanned = Now();
    server.CloseInput();
    server.WaitExit();
    double ended = Now();
    life.startMs = (ready - start) * 1e3;
    life.scanMs = (scanned - ready) * 1e3;
    life.exitMs = (ended - scanned) * 1e3;
    return life;
}

// The database's own cost: the time of one rewrite (Record) with 'entries'
// modules already in it, each an ok sample-effect result.
double DatabaseWriteMs(const std::wstring& scratch, const std::wstring& plugin, int entries)
{
    std::wstring path = scratch + L"\\dbwrite.json";
    DeleteFileW(path.c_str());
    orvanta::PluginDatabase db;
    std::string error;
    if (!db.Open(path, &error))
        return -1;
    orvanta::ServerConfig config;
    config.serverExe = ServerExePath();
    orvanta::ModuleScanner scanner(config);
    orvanta::ModuleRecord record;
    record.size = 1;
    record.modified = "2026-12-08T13:41:15.250Z";
    record.result = scanner.ScanModule(plugin);
    double total = 0;
    int timed = 0;
    for (int i = 0; i <= entries; i++)
    {
        wchar_t name[64];
        swprintf(name, 64, L"\\module-%05d.dll", i);
        record.result.path = scratch + name;
        double start = Now();
        if (!db.Record(record, &error))
            return -1;
        if (i >= entries - 10) // the last writes, around 'entries' modules
        {
            total += Now() - start;
            timed++;
        }
    }
    DeleteFileW(path.c_str());
    return total / timed * 1e3;
}

// The soak's figure: a copy of a real database opened, and one more entry
// recorded in it, each timed (the median of 'repeats' rewrites).
int TimeDatabaseRewrite(const std::wstring& file, int repeats)
{
    std::wstring copy = file + L".rewrite.json";
    if (!CopyFileW(file.c_str(), copy.c_str(), FALSE))
    {
        fprintf(stderr, "pool_bench: cannot copy %ls (error %lu)\n", file.c_str(), GetLastError());
        return 1;
    }
    orvanta::PluginDatabase db;
    std::string error;
    double start = Now();
    bool opened = db.Open(copy, &error);
    double openMs = (Now() - start) * 1e3;
    std::vector<orvanta::ModuleRecord> modules = db.Modules();
    if (!opened || modules.empty())
    {
        fprintf(stderr, "pool_bench: %s\n", opened ? "the database is empty" : error.c_str());
        return 1;
    }
    std::vector<double> writes;
    orvanta::ModuleRecord record = modules.front();
    for (int i = 0; i < repeats; i++)
    {
        record.result.path = modules.front().result.path + L".extra" + std::to_wstring(i);
        start = Now();
        if (!db.Record(record, &error))
        {
            fprintf(stderr, "pool_bench: %s\n", error.c_str());
            return 1;
        }
        writes.push_back((Now() - start) * 1e3);
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    DeleteFileW(copy.c_str());
    printf("database %zu entries, %lu bytes: open %.1f ms, one rewrite %.1f ms (median of %d)\n",
           modules.size(), data.nFileSizeLow, openMs, Median(writes), repeats);
    return 0;
}

// A session over the hanging sample (30 s limit) cancelled one second after
// its server began it: the time from Cancel until Wait returns, in ms.
double CancelLatencyMs(const std::wstring& scratch, const std::wstring& hang)
{
    std::wstring folder = scratch + L"\\cancel";
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(hang.c_str(), (folder + L"\\Hang.dll").c_str(), FALSE);
    orvanta::PluginDatabase db;
    std::string error;
    if (!db.Open(folder + L"\\plugins.json", &error))
        return -1;
    orvanta::SessionSetup setup;
    setup.paths = {folder + L"\\Hang.dll"};
    setup.server.serverExe = ServerExePath();
    setup.server.dumpFolder = folder + L"\\dumps";
    setup.server.timeoutMs = 30000;
    orvanta::SessionCallbacks callbacks;
    std::atomic<bool> begun{false};
    callbacks.onBegin = [&](size_t, const std::wstring&) { begun = true; };
    orvanta::ScanSession session(db, setup, callbacks);
    session.Start();
    while (!begun)
        Sleep(10);
    Sleep(1000); // the request is in flight
    double start = Now();
    session.Cancel();
    orvanta::SessionOutcome outcome = session.Wait();
    double ms = (Now() - start) * 1e3;
    return outcome.status == orvanta::SessionStatus::cancelled ? ms : -1;
}

const char* Verdict(double ratio, double target, bool atLeast)
{
    if (ratio <= 0)
        return "n/a";
    return (atLeast ? ratio >= target : ratio < target) ? "met" : "MISSED";
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 3 && wcscmp(argv[1], L"--db-write") == 0)
        return TimeDatabaseRewrite(argv[2], 5);
    int copies = 200, repeats = 3, single = 20, requests = 300;
    bool overheadOnly = false;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::wstring name = argv[i];
        int value = _wtoi(argv[i + 1]);
        if (value <= 0)
            continue;
        if (name == L"--copies")
            copies = value;
        else if (name == L"--repeats")
            repeats = value;
        else if (name == L"--single")
            single = value;
        else if (name == L"--requests")
            requests = value;
        else if (name == L"--overhead-only")
            overheadOnly = true;
    }
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int processors = (int)system.dwNumberOfProcessors;

    std::wstring scratch = BinPath(L"..\\pool-bench");
    wchar_t full[MAX_PATH * 4];
    GetFullPathNameW(scratch.c_str(), MAX_PATH * 4, full, nullptr);
    scratch = full;
    RemoveTree(scratch);
    CreateDirectoryW(scratch.c_str(), nullptr);
    Bench bench(scratch);

    std::wstring effect = SamplePath(L"SampleEffect");
    Folder copiesFolder;
    copiesFolder.name = "copies";
    copiesFolder.path = scratch + L"\\copies";
    CreateDirectoryW(copiesFolder.path.c_str(), nullptr);
    for (int i = 0; i < copies; i++)
    {
        wchar_t name[64];
        swprintf(name, 64, L"\\Effect%03d.dll", i);
        std::wstring path = copiesFolder.path + name;
        if (!CopyFileW(effect.c_str(), path.c_str(), FALSE))
        {
            fprintf(stderr, "pool_bench: cannot copy %ls (error %lu)\n", effect.c_str(), GetLastError());
            return 1;
        }
        copiesFolder.modules.push_back(path);
    }
    Folder samples;
    samples.name = "samples";
    samples.path = BinPath(L"samples");
    samples.modules = DllsIn(samples.path);
    samples.timeoutSeconds = 2;

    bool hasJobs = bench.HasJobsOption();
    printf("\norvanta-scan against one server per module (%d processors; median of %d runs each)\n",
           processors, repeats);
    if (!hasJobs)
        printf("this orvanta-scan has no -j option: the -j rows run it without one (one server)\n");

    for (Folder* folder : {&copiesFolder, &samples})
    {
        if (overheadOnly)
            break;
        printf("\n%s: %zu modules in %s", folder->name.c_str(), folder->modules.size(),
               Utf8(folder->path).c_str());
        if (folder == &samples)
            printf("\n  (--timeout 2: the hanging and the dialog sample take 2 s each; the crashing one"
                   " is tried twice and each try waits for its dump)");
        printf("\n");
        fflush(stdout);
        std::vector<int> jobs = {1, 2};
        if (processors != 2 && processors != 1)
            jobs.push_back(processors);
        struct Row
        {
            std::string label;
            std::vector<double> rates;
            size_t modules = 0;
            std::string note;
        };
        std::vector<Row> rows;
        for (int j : jobs)
        {
            Row row;
            row.label = "orvanta-scan -j " + std::to_string(j);
            row.modules = folder->modules.size();
            for (int r = 0; r < repeats; r++)
            {
                ToolRun run = bench.Tool(*folder, hasJobs ? j : 0);
                if (run.seconds < 0 || run.exitCode > 1)
                {
                    fprintf(stderr, "pool_bench: orvanta-scan ended with exit code %lu\n", run.exitCode);
                    return 1;
                }
                row.rates.push_back(row.modules / run.seconds);
                row.note = "exit code " + std::to_string(run.exitCode);
            }
            rows.push_back(row);
        }
        for (int parallel : {1, processors})
        {
            Row row;
            row.label = "server per module x" + std::to_string(parallel);
            row.modules = std::min((size_t)(folder == &copiesFolder ? single : 1 << 30), folder->modules.size());
            for (int r = 0; r < repeats; r++)
            {
                size_t notOk = 0;
                double seconds = bench.ProcessPerModule(*folder, row.modules, parallel, &notOk);
                row.rates.push_back(row.modules / seconds);
                row.note = std::to_string(notOk) + " not ok";
            }
            rows.push_back(row);
        }
        printf("  %-26s %8s %10s %10s  %s\n", "", "modules", "modules/s", "ms/module", "runs (modules/s)");
        std::vector<double> median;
        for (const Row& row : rows)
        {
            double m = Median(row.rates);
            median.push_back(m);
            std::string runs;
            for (double rate : row.rates)
            {
                char text[32];
                snprintf(text, sizeof text, "%s%.1f", runs.empty() ? "" : " ", rate);
                runs += text;
            }
            printf("  %-26s %8zu %10.2f %10.1f  %s; %s\n", row.label.c_str(), row.modules, m, 1e3 / m,
                   runs.c_str(), row.note.c_str());
        }
        size_t perModule = jobs.size(); // first process-per-module row
        double j1 = median[0], j2 = median[1], ppm = median[perModule], ppmParallel = median[perModule + 1];
        printf("  ratio -j 1 / server per module:    %6.2f (target at least 5: %s)\n", j1 / ppm,
               Verdict(j1 / ppm, 5, true));
        printf("  ratio -j %d / server per module x%d: %6.2f\n", processors, processors,
               median[jobs.size() - 1] / ppmParallel);
        printf("  ratio -j 2 / -j 1:                 %6.2f (target at least 1.6 on 2 processors: %s)\n",
               j2 / j1, hasJobs ? Verdict(j2 / j1, 1.6, true) : "n/a, no -j");
        if (folder == &copiesFolder)
        {
            // What every run pays once whatever its size: the tool's start,
            // the servers' start and, at the end, their exit (about 2 s
            // under Wine for a server that showed its badge). Measured on
            // one copy, and taken off to give the rate in between.
            Folder one;
            one.path = scratch + L"\\one";
            CreateDirectoryW(one.path.c_str(), nullptr);
            CopyFileW(effect.c_str(), (one.path + L"\\Effect.dll").c_str(), FALSE);
            std::vector<double> steady;
            printf("  fixed cost of a run (one copy, median of %d):", repeats);
            for (size_t k = 0; k < 2; k++)
            {
                std::vector<double> times;
                for (int r = 0; r < repeats; r++)
                    times.push_back(bench.Tool(one, hasJobs ? jobs[k] : 0).seconds);
                double fixed = Median(times);
                double whole = folder->modules.size() / median[k];
                steady.push_back((folder->modules.size() - 1) / (whole - fixed));
                printf(" -j %d %.0f ms%s", jobs[k], fixed * 1e3, k == 0 ? "," : "\n");
            }
            printf("  without it: -j 1 %.1f modules/s (%.1f ms/module), -j 2 %.1f modules/s (%.1f ms/module),"
                   " ratio -j 2 / -j 1 %.2f\n",
                   steady[0], 1e3 / steady[0], steady[1], 1e3 / steady[1], steady[1] / steady[0]);
        }
        fflush(stdout);
    }

    // What the tool adds per module, and what it costs to start.
    printf("\nclient overhead per request (%d requests of the sample effect each way, in turns; %d runs)\n",
           requests, repeats);
    std::vector<double> share, medianShare;
    for (int r = 0; r < repeats; r++)
    {
        Overhead o = MeasureOverhead(effect, requests);
        if (o.clientMs < 0)
        {
            fprintf(stderr, "pool_bench: the overhead run failed\n");
            return 1;
        }
        share.push_back((o.clientMs - o.serverMs) / o.serverMs * 100);
        medianShare.push_back((o.clientMedianMs - o.serverMedianMs) / o.serverMedianMs * 100);
        printf("  run %d: ScanServer::Request mean %.3f ms (median %.3f), pipe host (server time) mean %.3f ms"
               " (median %.3f): overhead %+.1f%% of the means, %+.1f%% of the medians\n",
               r + 1, o.clientMs, o.clientMedianMs, o.serverMs, o.serverMedianMs, share.back(),
               medianShare.back());
    }
    double overhead = Median(share);
    printf("  median of the runs: overhead %+.1f%% of a scan by the means, %+.1f%% by the medians"
           " (target under 10%%: %s)\n",
           overhead, Median(medianShare), overhead < 10 ? "met" : "MISSED");

    if (overheadOnly)
        return 0;
    printf("\ncancel: a session whose server hangs in a plugin under a 30 s limit, Cancel to its end\n");
    std::vector<double> cancels;
    for (int r = 0; r < repeats; r++)
    {
        double ms = CancelLatencyMs(scratch, SamplePath(L"SampleHang"));
        if (ms < 0)
        {
            fprintf(stderr, "pool_bench: the cancelled session did not end cancelled\n");
            return 1;
        }
        cancels.push_back(ms);
    }
    printf("  median %.0f ms of %d runs (target within 1000 ms: %s)\n", Median(cancels), repeats,
           Median(cancels) <= 1000 ? "met" : "MISSED");

    printf("\nwhere an orvanta-scan run's time goes\n");
    Folder empty;
    empty.path = scratch + L"\\empty";
    CreateDirectoryW(empty.path.c_str(), nullptr);
    std::vector<double> idle;
    for (int r = 0; r < repeats; r++)
        idle.push_back(bench.Tool(empty, 0).seconds);
    printf("  orvanta-scan start to exit with nothing to scan: %.0f ms (median of %d)\n", Median(idle) * 1e3,
           repeats);
    std::vector<double> starts, scans, exits;
    for (int r = 0; r < repeats; r++)
    {
        Lifecycle life = MeasureLifecycle(Utf8(effect));
        starts.push_back(life.startMs);
        scans.push_back(life.scanMs);
        exits.push_back(life.exitMs);
    }
    printf("  one server per module: start to ready %.0f ms, first scan %.1f ms, close to exit %.0f ms"
           " (median of %d)\n",
           Median(starts), Median(scans), Median(exits), repeats);
    for (int entries : {200, 1000})
        printf("  one database rewrite with %d entries: %.1f ms (mean of the last 10 writes)\n", entries,
               DatabaseWriteMs(scratch, effect, entries));
    return 0;
}
