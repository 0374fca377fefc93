// The plugin database: what a host keeps between scans, so that a later run
// scans only new and changed modules. One JSON file (its format is described
// in docs/database-format.md), rewritten atomically after every change (a
// temporary file in the same folder, then a replacing move), so a run killed
// at any moment leaves a valid file holding every module finished so far.
#pragma once
#include "orvanta/products.h"
#include "orvanta/scan.h"
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// A module as found on disk: a file, or a VST3 bundle folder.
struct ModuleFile
{
    std::wstring path;    // full path (a bundle's folder)
    // A file's size and last write; for a bundle, its binary's size and the
    // newest last write of any file in the bundle.
    uint64_t size = 0;
    std::string modified; // the last write in UTC, "2026-12-08T13:41:15.250Z"
};

// Files and folders named by the user. Folders are searched recursively for
// the modules of the formats asked for: files ending in ".dll" (VST 2),
// files or bundle folders ending in ".vst3" (VST3; a bundle is one module and
// is not searched inside), and files ending in ".clap" (CLAP), in any letter
// case; a file named directly is taken
// whatever its name. Paths are made full.
struct FoundModules
{
    std::vector<ModuleFile> files;  // sorted by path, each once
    std::vector<std::wstring> roots; // the full paths searched, folders and files
    std::vector<std::string> errors; // paths that do not exist or cannot be listed
    // The formats searched for: a plan finds only their entries removed, so
    // a search limited to some formats leaves the others' entries alone.
    std::vector<PluginFormat> formats = {PluginFormat::vst2, PluginFormat::vst3,
                                         PluginFormat::clap};
};
FoundModules FindModules(const std::vector<std::wstring>& paths,
                         const std::vector<PluginFormat>& formats = {PluginFormat::vst2,
                                                                     PluginFormat::vst3,
                                                                     PluginFormat::clap});

// The folders where a format's modules are installed on this machine, each
// that exists, each once, in search order (see docs/client-library.md).
std::vector<std::wstring> StandardFolders(PluginFormat format);

// The database every host of this user shares when none is named:
// %LOCALAPPDATA%\Orvanta\orvanta-plugins.json ("" when LOCALAPPDATA is unset).
std::wstring DefaultDatabasePath();

// One entry of the database: the module's result with the file it describes.
struct ModuleRecord
{
    uint64_t size = 0;
    std::string modified;
    ModuleResult result; // result.path is the module's path
};

struct PlanOptions
{
    bool rescan = false;      // scan every module found
    bool retryFailed = false; // scan unchanged modules that crashed, timed out or were lost
    // A 32-bit server scans x86 modules: scan the unchanged ones that
    // failed for want of one (their load problem says "32-bit module: ...").
    bool x86Server = false;
};

// What a run does with the modules it found.
struct ScanPlan
{
    std::vector<ModuleFile> toScan;     // new, changed, forced or retried; sorted by path
    std::vector<ModuleFile> unchanged;  // skipped: same size and last write
    std::vector<std::wstring> removed;  // entries under the roots whose file is gone
    std::vector<ModuleFile> blocked;    // found, but blocked by the user: never loaded
};

// A module the user blocked: it is never loaded nor sent to a server, and
// it has no entry (so no plugins) while it stays blocked.
struct BlockedModule
{
    std::wstring path;  // full path (a VST3 bundle's folder)
    std::string reason; // the user's words; may be empty
    std::string when;   // when it was blocked, in UTC: "2026-12-09T13:41:15.250Z"
};

// The database file. One object owns it: any thread may call it (calls are
// serialised inside), and it alone writes the file. While a scan runs, hand
// results to a DatabaseWriter (orvanta/database_writer.h), which writes on a
// thread of its own so that no server waits for the disk.
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

    // Modules on the blocklist go to the plan's blocked list, whatever the
    // options.
    ScanPlan Plan(const FoundModules& found, const PlanOptions& options) const;
    // The order in which a run scans: the modules that took longest in the
    // previous run first (by the entry's scanMs; equal times by path), then
    // the modules without an entry, in path order. A big folder so finishes
    // its slow modules early instead of waiting on one at the end.
    std::vector<ModuleFile> ScanOrder(const std::vector<ModuleFile>& toScan) const;

    // Each of these changes the entries and writes the file at once.
    bool Record(const ModuleRecord& record, std::string* error);
    // A module whose left-over thread crashed a later request: marked crashed
    // with the dump's findings. Unknown modules get an entry of their own.
    bool MarkCrashed(const Blame& blame, std::string* error);
    bool Remove(const std::vector<std::wstring>& paths, std::string* error);

    // The blocklist, kept in the file. Block adds the modules (or, for one
    // already blocked, gives it the new reason and time) and removes their
    // entries; Unblock takes them off the list, so that the next run scans
    // them as new. Paths are made full; one not blocked is passed over.
    bool Block(const std::vector<std::wstring>& paths, const std::string& reason, std::string* error);
    bool Unblock(const std::vector<std::wstring>& paths, std::string* error);
    // Sorted by path.
    std::vector<BlockedModule> Blocked() const;
    bool IsBlocked(const std::wstring& path) const;
    // Several changes with one write: the records, then the crashes found
    // later (a crash of a left-over thread is always found after its
    // module's record).
    bool Apply(const std::vector<ModuleRecord>& records, const std::vector<Blame>& crashes,
               std::string* error);

    // The banner of the server that scanned last: taken from each recorded
    // result that has one, or set here; kept with the next write.
    void SetServer(const std::string& banner);
    std::string Server() const;

    // Every entry, sorted by path.
    std::vector<ModuleRecord> Modules() const;
    // The entries' plugins grouped by product (orvanta/products.h), as the
    // file's "products" holds them.
    std::vector<Product> Products() const;
    std::optional<ModuleRecord> Find(const std::wstring& path) const;
    // A document of the database's shape holding only the given modules'
    // entries (those that exist), sorted by path.
    std::string ToJson(const std::vector<std::wstring>& paths) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta
