#include "scan_run.h"
#include "console_text.h"
#include "database_path.h"
#include "progress.h"
#include "summary.h"
#include <orvanta/database.h>
#include <orvanta/paths.h>
#include <orvanta/scan.h>
#include <orvanta/session.h>
#include <orvanta/text.h>
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace orvantacli {

using namespace orvanta;

namespace {

std::wstring ThisProgramFolder()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    return FolderOf(std::wstring(path, n));
}

int Processors()
{
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : (int)std::min<unsigned>(n, MaxJobs);
}

// The run's session, for the console's control handler: Ctrl+C cancels
// it. A Ctrl+C that comes before the session exists is kept in 'interrupted'
// and cancels it as soon as it does.
std::mutex sessionLock;
ScanSession* running = nullptr;
std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; // closing the console ends the tool as usual
    interrupted = true;
    std::lock_guard<std::mutex> hold(sessionLock);
    if (running)
        running->Cancel();
    return TRUE;
}

// Makes the session the one Ctrl+C cancels, for its lifetime.
class CancelOnCtrlC
{
public:
    explicit CancelOnCtrlC(ScanSession& session)
    {
        std::lock_guard<std::mutex> hold(sessionLock);
        running = &session;
        if (interrupted)
            session.Cancel();
    }
    ~CancelOnCtrlC()
    {
        std::lock_guard<std::mutex> hold(sessionLock);
        running = nullptr;
    }
};

} // namespace

int RunScan(const Options& options)
{
    const TextStream err(TextStream::err), out(TextStream::out);
    // With --json the standard output holds only the JSON.
    const TextStream& report = options.json ? err : out;
    auto fail = [&](const std::string& message) {
        err.Write("orvanta-scan: " + message + "\n");
        return 2;
    };
    auto start = std::chrono::steady_clock::now();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    std::string error;
    std::wstring databasePath = DatabasePath(options, &error);
    if (databasePath.empty())
        return fail(error);
    if (options.database.empty())
        MakeFolders(FolderOf(databasePath));
    PluginDatabase db;
    if (!db.Open(databasePath, &error))
        return fail(error);

    SessionSetup setup;
    setup.paths = options.paths;
    setup.formats = options.formats;
    setup.plan.rescan = options.rescan;
    setup.plan.retryFailed = options.retryFailed;
    setup.servers = options.jobs > 0 ? options.jobs : Processors();
    setup.crashRetries = options.retries;
    setup.presets = options.presets;
    ServerConfig& config = setup.server;
    config.serverExe = options.server.empty() ? ThisProgramFolder() + L"\\scanserver.exe" : FullPath(options.server);
    config.dumpFolder = options.dumps.empty() ? FolderOf(db.Path()) + L"\\dumps" : FullPath(options.dumps);
    config.moduleInfoOnly = options.fast;
    config.timeoutMs = (uint32_t)(options.timeoutSeconds * 1000 + 0.5);
    if (config.timeoutMs == 0)
        config.timeoutMs = 1;
    if (GetFileAttributesW(config.serverExe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail("no scan server at " + ToUtf8(config.serverExe) + " (--server names another)");
    // The 32-bit server is optional unless named.
    config.x86ServerExe = options.server32.empty() ? ThisProgramFolder() + L"\\scanserver32.exe" : FullPath(options.server32);
    if (GetFileAttributesW(config.x86ServerExe.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        if (!options.server32.empty())
            return fail("no 32-bit scan server at " + ToUtf8(config.x86ServerExe) + " (--server32 names another)");
        config.x86ServerExe.clear();
    }
    if (options.paths.empty() && !options.quiet)
    {
        std::string list;
        for (PluginFormat format : options.formats)
            for (const std::wstring& root : StandardFolders(format))
                list += "\n  " + ToUtf8(root);
        report.Write(list.empty() ? "No standard plugin folder exists.\n" : "Standard plugin folders:" + list + "\n");
    }

    RunTally tally;
    tally.database = db.Path();
    tally.allFindings = options.allFindings;
    tally.presets = options.presets;
    bool problem = false;
    std::optional<Progress> progress, presetsProgress;
    // The line of the pass under way: the modules', then the presets'.
    Progress* active = nullptr;
    std::map<std::wstring, bool> inThisRun; // by path key: a crash found later changes one of them
    SessionCallbacks callbacks;
    callbacks.onPlan = [&](const ScanPlan& plan) {
        tally.unchanged = plan.unchanged.size();
        tally.removed = plan.removed.size();
        for (const ModuleFile& file : plan.blocked)
            tally.blocked.push_back(file.path);
        for (const ModuleFile& file : plan.unchanged)
        {
            auto record = db.Find(file.path);
            if (record && EndedBadly(record->result))
                tally.unchangedWithProblems++;
        }
        for (const ModuleFile& file : plan.toScan)
            inThisRun[PathKey(file.path)] = true;
        if (plan.toScan.empty())
            return;
        progress.emplace(options.quiet, plan.toScan.size());
        active = &*progress;
        for (const ModuleFile& file : plan.blocked)
            progress->Blocked(file.path);
    };
    callbacks.onBegin = [&](size_t server, const std::wstring& path) { active->Begin(server, path); };
    callbacks.onEnd = [&](size_t server, const std::wstring&) { active->End(server); };
    callbacks.onDialog = [&](size_t server, const std::vector<DialogWindow>& windows) {
        active->Dialog(server, windows);
    };
    // The presets pass begins once the modules are done.
    callbacks.onProgress = [&](const SessionProgress& p) {
        if (p.presetsTotal == 0 || presetsProgress)
            return;
        if (progress)
            progress->Stop();
        presetsProgress.emplace(options.quiet, p.presetsTotal);
        active = &*presetsProgress;
    };
    callbacks.onPresets = [&](const ModuleRecord& record) {
        problem = problem || PresetsHaveProblem(record.result);
        tally.AddPresets(record.result);
        active->FinishPresets(record.result);
    };
    // The tally and the progress count what the file holds.
    callbacks.onModule = [&](const ModuleRecord& record) {
        problem = problem || HasProblem(record.result);
        tally.Add(record.result);
        progress->Finish(record.result);
    };
    callbacks.onBlame = [&](const WrittenBlame& w) {
        problem = true;
        if (w.before && w.after && inThisRun.count(PathKey(w.blame.path)))
            tally.Replace(*w.before, *w.after);
        else
            tally.blamed.push_back(w.blame);
    };
    SessionOutcome outcome;
    {
        ScanSession session(db, setup, callbacks);
        CancelOnCtrlC cancel(session);
        outcome = session.Run();
    }
    if (progress)
        progress->Stop();
    if (presetsProgress)
        presetsProgress->Stop();
    if (outcome.status == SessionStatus::failed)
    {
        for (const std::string& e : outcome.errors)
            err.Write("orvanta-scan: " + e + "\n");
        return 2;
    }
    tally.cancelled = outcome.status == SessionStatus::cancelled;
    tally.notScanned = outcome.notScanned;
    tally.presetsNotRead = outcome.presetsNotRead;
    // The entries this run wrote, for --json.
    std::set<std::wstring> notScanned;
    for (const std::wstring& path : outcome.notScanned)
        notScanned.insert(PathKey(path));
    std::vector<std::wstring> touched;
    for (const ModuleFile& file : outcome.plan.toScan)
    {
        if (!notScanned.count(PathKey(file.path)))
            touched.push_back(file.path);
    }
    for (const Blame& blame : tally.blamed)
        touched.push_back(blame.path);
    std::set<std::wstring> presetsNotRead;
    for (const std::wstring& path : outcome.presetsNotRead)
        presetsNotRead.insert(PathKey(path));
    for (const std::wstring& path : outcome.presetModules)
    {
        if (!presetsNotRead.count(PathKey(path)))
            touched.push_back(path);
    }
    tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

    if (options.json)
        out.Write(db.ToJson(touched));
    if (!options.quiet)
        report.Write(SummaryText(tally));
    if (tally.cancelled)
        return CancelledExitCode;
    return problem ? 1 : 0;
}

} // namespace orvantacli
