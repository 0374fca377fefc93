// A whole scan as a host runs it: find the modules, plan against the
// database, drop the entries of modules that are gone, scan the rest on a
// pool of servers in the database's order, and write each result as it
// comes. Progress comes as callbacks; Cancel ends the scan at once.
//
//   orvanta::PluginDatabase db;
//   db.Open(path, &error);
//   orvanta::SessionSetup setup;
//   setup.paths = {L"C:\\Plugins"};       // or empty: the standard folders
//   setup.server.serverExe = L"...\\scanserver.exe";
//   setup.server.dumpFolder = L"...\\dumps";
//   orvanta::SessionCallbacks callbacks;
//   callbacks.onProgress = [&](const orvanta::SessionProgress& p) { ... };
//   orvanta::ScanSession session(db, setup, callbacks);
//   session.Start();                       // a thread of its own
//   ...                                    // the user clicks Cancel:
//   session.Cancel();
//   orvanta::SessionOutcome outcome = session.Wait();
//
// Nothing here throws; every failure is a value in the outcome.
#pragma once
#include "orvanta/database.h"
#include "orvanta/database_writer.h"
#include "orvanta/scan.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

// What a session scans, and how.
struct SessionSetup
{
    // Files and folders, searched for the modules of the formats below.
    // Empty: the standard folders of each of those formats, each searched
    // for its own format only (a stray DLL in a VST3 folder is no plugin).
    std::vector<std::wstring> paths;
    std::vector<PluginFormat> formats = {PluginFormat::vst2, PluginFormat::vst3, PluginFormat::clap};
    PlanOptions plan;
    // serverExe is required. Each server writes its dumps into a folder of
    // its own under dumpFolder (created), as ScanPool does.
    ServerConfig server;
    int servers = 1;      // run at once; below 1 counts as 1
    int crashRetries = 1; // more attempts after a crash
    // After the modules, read the presets of the VST3 and CLAP modules
    // found whose presets were never read, whose module was scanned now,
    // or one of whose preset locations changed since (its stamp).
    bool presets = false;
};

// Where a session stands, as a host shows it.
struct SessionProgress
{
    size_t total = 0; // modules to scan
    size_t done = 0;  // of those, scanned and in the database
    // By server: the module it scans ("" when it has none), and the
    // windows that module waits on (empty when none).
    std::vector<std::wstring> scanning;
    std::vector<std::vector<DialogWindow>> dialogs;
    // With presets: the modules whose presets are read after the modules
    // are scanned, and of those, read and in the database.
    size_t presetsTotal = 0;
    size_t presetsDone = 0;
};

enum class SessionStatus
{
    done,      // every planned module was scanned
    cancelled, // Cancel came first: see notScanned
    failed     // a path could not be searched, or the database not written
};
// "done", "cancelled", "failed".
const char* SessionStatusName(SessionStatus status);

struct SessionOutcome
{
    SessionStatus status = SessionStatus::done;
    std::vector<std::string> errors; // failed: why, one sentence each
    std::vector<std::wstring> roots; // every file and folder searched
    ScanPlan plan;                   // as planned, the scan order aside
    // Planned modules whose scan did not end: a cancel came first. Their
    // entries are as they were before the session.
    std::vector<std::wstring> notScanned;
    // With presets: the modules whose presets were to be read, and of those
    // the ones a cancel left as they were.
    std::vector<std::wstring> presetModules;
    std::vector<std::wstring> presetsNotRead;
};

// Every callback runs on the thread that runs the session (the caller of
// Run, or the session's own thread after Start), one at a time, in the
// order things happened, and never while the library holds a lock: it may
// take its time (the servers go on meanwhile), read the database or call
// Cancel.
struct SessionCallbacks
{
    // Once, after planning and before any entry is changed.
    std::function<void(const ScanPlan& plan)> onPlan;
    // A server began a module, or its scan ended (its entry is written
    // next, unless the session was cancelled).
    std::function<void(size_t server, const std::wstring& path)> onBegin;
    std::function<void(size_t server, const std::wstring& path)> onEnd;
    // The windows a module waits on changed (empty: none any more).
    std::function<void(size_t server, const std::vector<DialogWindow>& windows)> onDialog;
    // A module's entry is in the file.
    std::function<void(const ModuleRecord& record)> onModule;
    // With presets: a module's presets are in the file (record.result.presets).
    std::function<void(const ModuleRecord& record)> onPresets;
    // A module scanned earlier (in this session or before) was found to
    // have crashed a later request, and its entry now says so.
    std::function<void(const WrittenBlame& blame)> onBlame;
    // After each of the above that changed the progress.
    std::function<void(const SessionProgress& progress)> onProgress;
};

// One scan. The database must stay open, and be written by no one else,
// until the session ends.
class ScanSession
{
public:
    ScanSession(PluginDatabase& db, SessionSetup setup, SessionCallbacks callbacks = {});
    // Cancels a session still running and waits for its end.
    ~ScanSession();
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Runs the whole session on the calling thread.
    SessionOutcome Run();
    // Runs it on a thread of its own; false when no thread could be made
    // (or it was started before). Wait returns its outcome.
    bool Start();
    SessionOutcome Wait();

    // From any thread (a callback too), at any time, before Run or Start
    // too: no module is begun any more, the requests in flight end at once
    // (their servers are ended), and the session ends with what finished
    // written and the rest not scanned. A cancel before the scan begins
    // changes nothing in the database.
    void Cancel();
    bool Cancelled() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta
