#include "scan_run.h"
#include "console_text.h"
#include "orvanta_scan.h"
#include "plugin_database.h"
#include "progress.h"
#include "summary.h"
#include "text_convert.h"
#include <windows.h>
#include <chrono>

namespace orvantacli {

using namespace orvanta;

namespace {

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring ThisProgramFolder()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    return FolderOf(std::wstring(path, n));
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[4096];
    DWORD n = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
    return n > 0 && n < 4096 ? std::wstring(full, n) : path;
}

bool EndedBadly(const ModuleResult& m)
{
    auto bad = [](Status s) { return s == Status::crashed || s == Status::timeout || s == Status::lost; };
    if (bad(m.status))
        return true;
    for (const PluginEntry& p : m.plugins)
    {
        if (bad(p.status))
            return true;
    }
    return false;
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

    PluginDatabase db;
    std::string error;
    if (!db.Open(options.database, &error))
        return fail(error);

    FoundModules found = FindModules(options.paths);
    if (!found.errors.empty())
    {
        for (const std::string& e : found.errors)
            err.Write("orvanta-scan: " + e + "\n");
        return 2;
    }

    ServerConfig config;
    config.serverExe = options.server.empty() ? ThisProgramFolder() + L"\\scanserver.exe" : FullPath(options.server);
    config.dumpFolder = options.dumps.empty() ? FolderOf(db.Path()) + L"\\dumps" : FullPath(options.dumps);
    config.timeoutMs = (uint32_t)(options.timeoutSeconds * 1000 + 0.5);
    if (config.timeoutMs == 0)
        config.timeoutMs = 1;
    if (GetFileAttributesW(config.serverExe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail("no scan server at " + ToUtf8(config.serverExe) + " (--server names another)");

    PlanOptions planOptions;
    planOptions.rescan = options.rescan;
    planOptions.retryFailed = options.retryFailed;
    ScanPlan plan = db.Plan(found, planOptions);

    RunTally tally;
    tally.database = db.Path();
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
    if (!plan.toScan.empty())
    {
        CreateDirectoryW(config.dumpFolder.c_str(), nullptr);
        Progress progress(options.quiet, plan.toScan.size());
        ModuleScanner scanner(config, options.retries);
        std::string writeError;
        ScanCallbacks callbacks;
        callbacks.onDialog = [&](const std::vector<DialogWindow>& windows) { progress.Dialog(windows); };
        callbacks.onBlame = [&](const Blame& blame) {
            touched.push_back(blame.path);
            problem = true;
            if (writeError.empty() && !db.MarkCrashed(blame, &error))
                writeError = error;
            // The summary shows the entry as the database now holds it.
            auto record = db.Find(blame.path);
            for (ModuleResult& earlier : tally.scanned)
            {
                if (record && PathKey(earlier.path) == PathKey(blame.path))
                {
                    earlier = record->result;
                    return;
                }
            }
            tally.blamed.push_back(blame);
        };
        for (const ModuleFile& file : plan.toScan)
        {
            progress.Begin(file.path);
            ModuleRecord record;
            record.size = file.size;
            record.modified = file.modified;
            record.result = scanner.ScanModule(file.path, callbacks);
            record.result.path = file.path;
            if (!scanner.ServerBanner().empty())
                db.SetServer(scanner.ServerBanner());
            if (writeError.empty() && !db.Record(record, &error))
                writeError = error;
            if (!writeError.empty())
            {
                progress.Stop();
                return fail(writeError);
            }
            problem = problem || HasProblem(record.result);
            touched.push_back(file.path);
            tally.scanned.push_back(record.result);
            progress.Finish(record.result);
        }
        progress.Stop();
    }
    tally.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

    if (options.json)
        out.Write(db.ToJson(touched));
    if (!options.quiet)
        report.Write(SummaryText(tally));
    return problem ? 1 : 0;
}

} // namespace orvantacli
