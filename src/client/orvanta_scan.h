// The host side of the plugin scan server: what a host compiles into its own
// program to scan plugin modules out of process. Start servers, send them
// requests, classify every answer, expand shell modules, retry crashes, blame
// the module that really crashed, and keep the results in a database.
//
// Texts are UTF-8 in std::string, paths UTF-16 in std::wstring. Nothing in
// this header throws: every failure is a value (a status and an error text).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// How one request (or one module, or one sub-plugin) ended.
enum class Status { ok, failed, crashed, timeout, lost };
// "ok", "failed", "crashed", "timeout", "lost".
const char* StatusName(Status status);
// The reverse; false for any other text.
bool ParseStatus(const std::string& text, Status* status);

// A visible top-level window of the server process other than its badge,
// as it stood when a request ran out of time (or while it was running).
struct DialogWindow
{
    std::string title;
    std::string text; // the texts of its visible child controls other than
                      // buttons (a message box's message), one per line
};

// One sub-plugin listed by a shell module's report.
struct ShellEntry
{
    uint32_t id = 0;
    std::string name;
};

// One report block, its escapes undone.
struct PluginReport
{
    uint32_t id = 0;
    std::string name, vendor, product, version, error;
    int numInputs = 0, numOutputs = 0;
    bool wantsMidi = false, sendsMidi = false;
    std::string platform;
    bool audio64 = false;
    int category = 0;
    bool synthEdit = false;
    std::vector<ShellEntry> shells; // only for a shell module, in report order
};

// Parses the report object: the ">" lines of one answer with their two-byte
// tag removed, joined with their line feeds ("{\n  \"id\": ...\n}\n").
// Every member may be followed by a comma. \uXXXX escapes become UTF-8 (a
// surrogate pair one character, a lone surrogate U+FFFD). Returns false
// with a clear error text ("malformed report: ...", with line and column
// where the syntax breaks) for a malformed block, and leaves *report alone.
bool ParseReport(const std::string& block, PluginReport* report, std::string* error);

// What the dump of a crash says about it.
struct CrashInfo
{
    std::string dumpPath;       // UTF-8; empty when no dump was found
    uint32_t exceptionCode = 0; // 0 when the dump could not be read
    uint64_t address = 0;       // the faulting instruction's address
    std::string faultingModule; // full path of the module holding it, or empty
};

// Reads the exception and module-list streams of a minidump file.
bool ReadCrashDump(const std::wstring& dumpPath, CrashInfo* info, std::string* error);

// The outcome of one request line.
struct RequestOutcome
{
    Status status = Status::lost;
    std::string error;                  // failed: the server's error text; else why
    std::optional<PluginReport> report; // ok and failed: the parsed block
    std::vector<std::string> lines;     // every tagged line, without its "\n"
    int exitCode = -1;                  // the server's exit code when it ended by itself
                                        // (crashed, lost), else -1
    CrashInfo crash;                    // crashed: the dump and what it says
    std::vector<DialogWindow> windows;  // timeout: the windows it waited on
    uint32_t elapsedMs = 0;             // request written to outcome known
};

struct ServerConfig
{
    std::wstring serverExe;   // path of scanserver.exe
    std::wstring dumpFolder;  // where the server writes crash dumps (created)
    uintptr_t hostWindow = 0; // the host's main window, picks the badge's monitor
    uint32_t timeoutMs = 30000; // per request; start-up up to "ready:" gets at least 30 s
};

// Called from the thread that runs a request, while it waits, each time the
// server's windows change (polled every 100 ms): the windows it shows now,
// empty when the last one went away or the request ended while one showed.
using DialogFn = std::function<void(const std::vector<DialogWindow>& windows)>;

// One server process, started on the first request and again after every
// outcome that ended it. Not thread-safe: one thread drives one server.
class ScanServer
{
public:
    explicit ScanServer(ServerConfig config);
    ~ScanServer(); // closes the request pipe and waits for the server to end
    ScanServer(const ScanServer&) = delete;
    ScanServer& operator=(const ScanServer&) = delete;

    // Sends "path\n" or "path>XXXXXXXX\n" and collects the answer.
    RequestOutcome Request(const std::wstring& path, std::optional<uint32_t> shellId = {},
                           const DialogFn& onDialog = {});
    // The banner text of the last server started ("" before the first).
    const std::string& Banner() const;
    // Ends the running server, if any, the way a host closes down (request
    // pipe closed, then wait); false when it had to be terminated.
    bool Stop();
    // Stop, telling how the server ended after its last answer: ok when it
    // ended cleanly or none was running; crashed, with the dump, when a
    // thread a plugin left running crashed it (a crash in progress is waited
    // for, as during a request); lost when it had to be terminated.
    RequestOutcome Finish();
    bool Running() const;
    // Paths of the modules requested since this server process started,
    // each once; after an outcome that ended the server, still those of the
    // ended process until the next request starts a fresh one.
    const std::vector<std::wstring>& ScannedByThisProcess() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// One plugin of a module: the module's own plugin, or one sub-plugin of a shell.
struct PluginEntry
{
    std::optional<uint32_t> shellId; // set for a sub-plugin
    Status status = Status::ok;
    int attempts = 1; // requests of this plugin; a crash is retried like a module's
    std::string error;
    PluginReport report; // meaningful when status is ok or failed
};

// Everything known about one module after it was scanned. status is the
// module's own request: a shell whose own scan is ok stays ok when one of
// its sub-plugins crashed or hung; that plugin entry carries the outcome.
// plugins holds the module's own plugin first (when a report came back),
// then one entry per sub-plugin in report order.
struct ModuleResult
{
    std::wstring path;
    Status status = Status::ok;
    int attempts = 0;
    uint32_t scanMs = 0;
    std::string error;
    std::string dump;       // UTF-8 path of the dump, crashed only
    std::optional<int> exitCode;
    std::vector<DialogWindow> windows;
    std::string faultingModule; // crashed: the module that held the faulting address
    uint32_t exceptionCode = 0;
    std::vector<PluginEntry> plugins;
};

// A module scanned earlier by the same server whose left-over thread crashed
// the server during a later request: that module is to be marked crashed.
struct Blame
{
    std::wstring path;
    CrashInfo crash;
};

struct ScanCallbacks
{
    DialogFn onDialog;                              // a dialog is showing
    std::function<void(const Blame&)> onBlame;      // an earlier module crashed
};

// Scans modules one after the other on one server: shell sub-plugins with
// one load, crash retries in fresh servers (crashRetries more attempts; a
// time-out is never retried), crash attribution by the dump. A crash whose
// faulting module is one scanned earlier by the same server process is
// reported through onBlame and the cut-off request runs again (it does not
// count as an attempt). Not thread-safe: one thread per scanner.
class ModuleScanner
{
public:
    ModuleScanner(ServerConfig config, int crashRetries = 1);
    ~ModuleScanner();
    ModuleResult ScanModule(const std::wstring& path, const ScanCallbacks& callbacks = {});
    const std::string& ServerBanner() const;
    // Ends the server. A crash found then, in a module this server scanned
    // (a thread it left running), is reported through onBlame, so the last
    // modules of a run are judged as the others are.
    void Finish(const ScanCallbacks& callbacks = {});

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Several servers at once, each persistent across many modules and fed from
// one shared queue: a free server takes the next module. Each server is one
// ModuleScanner of its own (so a shell and all its sub-plugins go to one
// server, and a crash or time-out restarts only that server), and writes its
// dumps into a folder of its own, "server-K" under the dump folder (K from 1),
// since dump names have a resolution of one second and two servers crashing
// in the same second must not share a name.
struct PoolCallbacks
{
    // Each is called with the index of the server (0 to servers - 1) and of
    // the module in the list handed to ScanAll. The pool calls them one at a
    // time, never two at once, from the servers' threads: keep them short.
    std::function<void(size_t server, size_t module)> onBegin;
    std::function<void(size_t server, const std::vector<DialogWindow>& windows)> onDialog;
    std::function<void(size_t server, const Blame& blame)> onBlame;
    std::function<void(size_t server, size_t module, ModuleResult&& result)> onFinish;
};

class ScanPool
{
public:
    // servers below 1 count as 1.
    ScanPool(ServerConfig config, int servers, int crashRetries = 1);
    ~ScanPool();
    ScanPool(const ScanPool&) = delete;
    ScanPool& operator=(const ScanPool&) = delete;

    // Scans every module, taken in the order given, and returns when all are
    // done (or, after Cancel, when the modules being scanned are). Starts no
    // more servers than there are modules. A server that runs out of work
    // waits for the others before it ends, so a thread left running by its
    // last module has the time to crash it that it would have had on one
    // server; such a crash is reported through onBlame before this returns.
    void ScanAll(const std::vector<std::wstring>& modules, const PoolCallbacks& callbacks);
    // From any thread, a callback too: no server takes another module.
    void Cancel();
    // The banner of a server that started ("" before any did).
    std::string ServerBanner() const;
    // The dump folder of one server.
    static std::wstring ServerDumpFolder(const std::wstring& dumpFolder, size_t server);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta

// ===========================================================================
// The plugin database: what a host keeps between scans, so that a later run
// scans only new and changed modules. One JSON file, rewritten atomically
// after every module (a temporary file in the same folder, then a replacing
// move), so a run killed at any moment leaves a valid file holding every
// module finished so far.
// ===========================================================================
namespace orvanta {

// A module file as found on disk.
struct ModuleFile
{
    std::wstring path;    // full path
    uint64_t size = 0;
    std::string modified; // the last write in UTC, "2026-12-08T13:41:15.250Z"
};

// Milliseconds are the precision kept: a file rewritten within the same
// millisecond with the same size counts as unchanged.
std::string FileTimeText(uint64_t fileTime);

// Files and folders named by the user. Folders are searched recursively for
// files ending in ".dll" in any letter case; a file named directly is taken
// whatever its name. Paths are made full.
struct FoundModules
{
    std::vector<ModuleFile> files;  // sorted by path, each once
    std::vector<std::wstring> roots; // the full paths searched, folders and files
    std::vector<std::string> errors; // paths that do not exist or cannot be listed
};
FoundModules FindModules(const std::vector<std::wstring>& paths);

// One entry of the database: the module's result with the file it describes.
struct ModuleRecord
{
    uint64_t size = 0;
    std::string modified;
    ModuleResult result; // result.path is the module's path
};

// True when the module, or any of its plugins, did not end ok.
bool HasProblem(const ModuleResult& result);

struct PlanOptions
{
    bool rescan = false;      // scan every module found
    bool retryFailed = false; // scan unchanged modules that crashed, timed out or were lost
};

// What a run does with the modules it found.
struct ScanPlan
{
    std::vector<ModuleFile> toScan;     // new, changed, forced or retried; sorted by path
    std::vector<ModuleFile> unchanged;  // skipped: same size and last write
    std::vector<std::wstring> removed;  // entries under the roots whose file is gone
};

// The database file. One object owns it: any thread may hand it results
// (calls are serialised inside), and it alone writes the file.
class PluginDatabase
{
public:
    PluginDatabase();
    ~PluginDatabase();
    PluginDatabase(const PluginDatabase&) = delete;
    PluginDatabase& operator=(const PluginDatabase&) = delete;

    // Reads the file; a missing file is an empty database. A file that
    // cannot be read or is not a database gives false and an error, and the
    // object then refuses every write, so such a file is never overwritten.
    bool Open(const std::wstring& path, std::string* error);
    const std::wstring& Path() const;

    ScanPlan Plan(const FoundModules& found, const PlanOptions& options) const;

    // Each of these changes the entries and writes the file at once.
    bool Record(const ModuleRecord& record, std::string* error);
    // A module whose left-over thread crashed a later request: marked crashed
    // with the dump's findings. Unknown modules get an entry of their own.
    bool MarkCrashed(const Blame& blame, std::string* error);
    bool Remove(const std::vector<std::wstring>& paths, std::string* error);

    // Several changes with one write: the records, then the crashes found
    // later (a crash of a left-over thread is always found after its
    // module's record). What a pool of servers finishes while the file is
    // being written goes into the next write, so writing never holds up a
    // scan and the file never lags more than one write behind.
    bool Apply(const std::vector<ModuleRecord>& records, const std::vector<Blame>& crashes,
               std::string* error);

    // The order in which a run scans: the modules that took longest in the
    // previous run first (by the entry's scanMs; equal times by path), then
    // the modules without an entry, in path order. A big folder so finishes
    // its slow modules early instead of waiting on one at the end.
    std::vector<ModuleFile> ScanOrder(const std::vector<ModuleFile>& toScan) const;

    // The banner of the server that scanned; kept with the next write.
    void SetServer(const std::string& banner);
    std::string Server() const;

    // Every entry, sorted by path.
    std::vector<ModuleRecord> Modules() const;
    std::optional<ModuleRecord> Find(const std::wstring& path) const;
    // A document of the database's shape holding only the given modules'
    // entries (those that exist), sorted by path.
    std::string ToJson(const std::vector<std::wstring>& paths) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta
