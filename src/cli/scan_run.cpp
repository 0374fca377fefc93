#include "scan_run.h"
#include "console_text.h"
#include "progress.h"
#include "summary.h"
#include <orvanta/database.h>
#include <orvanta/database_writer.h>
#include <orvanta/paths.h>
#include <orvanta/scan.h>
#include <orvanta/text.h>
#include <windows.h>
#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
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

// The folder and every missing folder above it.
void MakeFolders(const std::wstring& folder)
{
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::wstring parent = FolderOf(folder);
    if (parent != folder && parent != L".")
        MakeFolders(parent);
    CreateDirectoryW(folder.c_str(), nullptr);
}

// One search of a run: the paths given, searched for every format asked, or
// the standard folders of one format, searched for that format only (a
// stray DLL in the VST3 folder is no VST 2 plugin).
struct Search
{
    std::vector<std::wstring> roots;
    std::vector<PluginFormat> formats;
};

std::vector<Search> Searches(const Options& options)
{
    if (!options.paths.empty())
        return {Search{options.paths, options.formats}};
    std::vector<Search> searches;
    for (PluginFormat format : options.formats)
        searches.push_back(Search{StandardFolders(format), {format}});
    return searches;
}

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

    std::wstring databasePath = options.database;
    if (databasePath.empty())
    {
        // The one database every host of this user finds.
        databasePath = DefaultDatabasePath();
        if (databasePath.empty())
            return fail("LOCALAPPDATA is not set: --db names the database");
        MakeFolders(FolderOf(databasePath));
    }
    PluginDatabase db;
    std::string error;
    if (!db.Open(databasePath, &error))
        return fail(error);

    std::vector<Search> searches = Searches(options);
    if (options.paths.empty() && !options.quiet)
    {
        std::string list;
        for (const Search& search : searches)
            for (const std::wstring& root : search.roots)
                list += "\n  " + ToUtf8(root);
        report.Write(list.empty() ? "No standard plugin folder exists.\n" : "Standard plugin folders:" + list + "\n");
    }
    std::vector<FoundModules> founds;
    for (const Search& search : searches)
    {
        if (search.roots.empty())
            continue;
        founds.push_back(FindModules(search.roots, search.formats));
        if (!founds.back().errors.empty())
        {
            for (const std::string& e : founds.back().errors)
                err.Write("orvanta-scan: " + e + "\n");
            return 2;
        }
    }

    ServerConfig config;
    config.serverExe = options.server.empty() ? ThisProgramFolder() + L"\\scanserver.exe" : FullPath(options.server);
    config.dumpFolder = options.dumps.empty() ? FolderOf(db.Path()) + L"\\dumps" : FullPath(options.dumps);
    config.moduleInfoOnly = options.fast;
    config.timeoutMs = (uint32_t)(options.timeoutSeconds * 1000 + 0.5);
    if (config.timeoutMs == 0)
        config.timeoutMs = 1;
    if (GetFileAttributesW(config.serverExe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail("no scan server at " + ToUtf8(config.serverExe) + " (--server names another)");

    PlanOptions planOptions;
    planOptions.rescan = options.rescan;
    planOptions.retryFailed = options.retryFailed;
    // Each search plans its own modules; an entry is dropped as removed
    // only by a search of its format (the plan's own rule), so a run limited
    // to some formats leaves the others' entries alone.
    ScanPlan plan;
    for (const FoundModules& found : founds)
    {
        ScanPlan part = db.Plan(found, planOptions);
        plan.toScan.insert(plan.toScan.end(), part.toScan.begin(), part.toScan.end());
        plan.unchanged.insert(plan.unchanged.end(), part.unchanged.begin(), part.unchanged.end());
        for (const std::wstring& path : part.removed)
        {
            if (std::none_of(plan.removed.begin(), plan.removed.end(),
                             [&](const std::wstring& p) { return SamePath(p, path); }))
                plan.removed.push_back(path);
        }
    }

    RunTally tally;
    tally.database = db.Path();
    tally.allFindings = options.allFindings;
    tally.unchanged = plan.unchanged.size();
    tally.removed = plan.removed.size();
    for (const ModuleFile& file : plan.unchanged)
    {
        auto record = db.Find(file.path);
        if (record && EndedBadly(record->result))
            tally.unchangedWithProblems++;
    }
    if (!plan.removed.empty() && !db.Remove(plan.removed, &error))
        return fail(error);

    std::vector<std::wstring> touched; // entries this run wrote, for --json
    bool problem = false;
    std::string writeError;
    if (!plan.toScan.empty())
    {
        CreateDirectoryW(config.dumpFolder.c_str(), nullptr);
        std::vector<ModuleFile> order = db.ScanOrder(plan.toScan);
        // Modules of this run by path key: a crash found later either
        // changes one of them or concerns a module of an earlier run.
        std::map<std::wstring, bool> inThisRun;
        for (const ModuleFile& file : order)
            inThisRun[PathKey(file.path)] = true;

        Progress progress(options.quiet, order.size());
        DatabaseWriter writer(db, [&](const std::vector<ModuleRecord>& records, const std::vector<WrittenBlame>& blames) {
            // The tally and the progress count what the file holds.
            for (const ModuleRecord& record : records)
            {
                problem = problem || HasProblem(record.result);
                tally.Add(record.result);
                progress.Finish(record.result);
            }
            for (const WrittenBlame& w : blames)
            {
                problem = true;
                if (w.before && w.after && inThisRun.count(PathKey(w.blame.path)))
                    tally.Replace(*w.before, *w.after);
                else
                    tally.blamed.push_back(w.blame);
            }
        });
        std::vector<std::wstring> paths;
        for (const ModuleFile& file : order)
            paths.push_back(file.path);
        ScanPool pool(config, options.jobs > 0 ? options.jobs : Processors(), options.retries);
        PoolCallbacks callbacks;
        callbacks.onBegin = [&](size_t server, size_t module) { progress.Begin(server, paths[module]); };
        callbacks.onDialog = [&](size_t server, const std::vector<DialogWindow>& windows) {
            progress.Dialog(server, windows);
        };
        callbacks.onBlame = [&](size_t, const Blame& blame) { writer.Add(blame); };
        callbacks.onFinish = [&](size_t server, size_t module, ModuleResult&& result) {
            progress.End(server);
            if (!writer.Error().empty())
            {
                pool.Cancel(); // the database cannot be written: stop
                return;
            }
            // The database is the writer's alone while it runs: a write in
            // progress would hold up every server here.
            ModuleRecord record;
            record.size = order[module].size;
            record.modified = order[module].modified;
            record.result = std::move(result);
            record.result.path = order[module].path;
            writer.Add(std::move(record));
        };
        pool.ScanAll(paths, callbacks);
        writeError = writer.Finish();
        progress.Stop();
        if (!writeError.empty())
            return fail(writeError);
        for (const ModuleFile& file : plan.toScan)
            touched.push_back(file.path);
        for (const Blame& blame : tally.blamed)
            touched.push_back(blame.path);
    }
    tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

    if (options.json)
        out.Write(db.ToJson(touched));
    if (!options.quiet)
        report.Write(SummaryText(tally));
    return problem ? 1 : 0;
}

} // namespace orvantacli
