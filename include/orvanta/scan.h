// Scanning plugin modules out of process: start scan servers, send them
// modules, classify every answer, expand shell modules, retry crashes,
// blame the module that really crashed, and run several servers at once.
//
// Texts are UTF-8 in std::string, paths UTF-16 in std::wstring. Nothing in
// this header throws: every failure is a value (a status and an error text,
// with the crash as a record of its own).
#pragma once
#include "orvanta/clap.h"
#include "orvanta/presets.h"
#include "orvanta/vst2.h"
#include "orvanta/vst3.h"
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

// The exit code of a server that a crash in plugin code ended, after it
// wrote its dump.
constexpr int ServerCrashExitCode = 9;

// The plugin formats a module can be of.
enum class PluginFormat { vst2, vst3, clap };
// "vst2", "vst3", "clap".
const char* FormatName(PluginFormat format);
// The reverse; false for any other text.
bool ParseFormat(const std::string& text, PluginFormat* format);
// The format a module's path names: a path ending in ".vst3" (a bundle
// folder or a single-file module) is VST3, one ending in ".clap" CLAP (in
// any letter case), any other a VST 2 module.
PluginFormat FormatOfPath(const std::wstring& path);

// A visible top-level window of the server process other than its badge,
// as it stood when a request ran out of time (or while it was running).
struct DialogWindow
{
    std::string title;
    std::string text; // the texts of its visible child controls other than
                      // buttons (a message box's message), one per line
};

// The windows as a user reads them, the same wherever they are shown:
// "'Title: message'" for each window (line breaks as blanks, "(untitled
// window)" for a window with neither), joined with ", ".
std::string DialogText(const std::vector<DialogWindow>& windows);

// A crash of a server: what its dump says, or why it says nothing.
struct CrashInfo
{
    std::string dumpPath;       // UTF-8; empty when no dump was found
    std::string dumpError;      // why the dump could not be read; empty when it was
    uint32_t exceptionCode = 0; // 0 when the dump could not be read
    uint64_t address = 0;       // the faulting instruction's address
    std::string faultingModule; // full path of the module holding it, or empty
    // The crash came from a thread the module left running, during a later
    // request (the module was blamed). Known to the run that found it; the
    // database keeps it only in the entry's error text.
    bool leftOverThread = false;
};

struct ServerConfig
{
    std::wstring serverExe;   // path of scanserver.exe
    // Path of scanserver32.exe, the 32-bit server: modules built for x86 go
    // to it. Empty: they fail unasked, as built for another machine.
    std::wstring x86ServerExe;
    std::wstring dumpFolder;  // where the server writes crash dumps (created)
    uintptr_t hostWindow = 0; // the host's main window, picks the badge's monitor
    uint32_t timeoutMs = 30000; // per request; start-up up to "ready:" gets at least 30 s
    // A VST3 bundle with a readable moduleinfo.json is listed from that file
    // alone, without loading any plugin code (orvanta-scan --fast).
    bool moduleInfoOnly = false;
};

// Called from the thread that runs a request, while it waits, each time the
// server's windows change (polled every 100 ms): the windows it shows now,
// empty when the last one went away or the request ended while one showed.
using DialogFn = std::function<void(const std::vector<DialogWindow>& windows)>;

// Another format's plugin that a plugin declares itself the same product as
// (and the successor of): a VST3 class through its bundle's moduleinfo.json
// "Compatibility" list, a CLAP plugin through the factories made for that.
struct FormatLink
{
    PluginFormat format = PluginFormat::vst2;
    // In the form that format's entries use: VST 2 8 upper-case hex digits,
    // VST3 32 upper-case hex digits, CLAP the plugin ID.
    std::string id;
    // Where it was declared: "moduleinfo.json",
    // "clap.plugin-factory-info-as-vst3.draft0",
    // "clap.plugin-state-converter-factory/1".
    std::string declaredBy;
};

// ARA (Audio Random Access), which changes how a host inserts a plugin: how
// the plugin offers it, as known before it is loaded.
struct AraSupport
{
    // The plugin works only through ARA (CLAP's feature "ara:required").
    bool required = false;
    // VST3: the module's class of category "ARA Main Factory Class" paired
    // with this plugin's class, 32 upper-case hex digits.
    std::string factoryClass;
    // CLAP: the ARA factory the module answers ("org.ara-audio.ara.factory/2"
    // or the draft "org.ara-audio.ara.factory.draft/2").
    std::string factory;
    // CLAP: the descriptor's features name "ara:supported" or "ara:required".
    bool feature = false;
};
// One plugin of a module: the module's own plugin, one sub-plugin of a VST 2
// shell, one class of a VST3 factory, or one plugin of a CLAP factory.
struct PluginEntry
{
    std::optional<uint32_t> shellId; // set for a sub-plugin
    Status status = Status::ok;
    int attempts = 1; // requests of this plugin; a crash is retried like a module's
    std::string error;
    Vst2Report report; // VST 2: meaningful when status is ok or failed
    std::optional<Vst3Class> vst3; // VST3: the class, as far as it was read
    std::optional<ClapPlugin> clap; // CLAP: the plugin, as far as it was read
    // The other plugins it declares itself the same product as; empty when
    // it declares none.
    std::vector<FormatLink> replaces;
    // Set when the plugin offers ARA.
    std::optional<AraSupport> ara;
    // The step of the server's work a failure, crash or time-out happened
    // in ("createInstance", "initialize", "bus info", "plugin init", ...);
    // "" when none.
    std::string phase;

    // What a host shows whatever the format: the ID in its format's form
    // (VST 2 8 upper-case hex digits, VST3 32, CLAP the plugin ID), the
    // name and the vendor.
    std::string Id() const;
    const std::string& Name() const;
    const std::string& Vendor() const;
};

// Everything known about one module after it was scanned. status is the
// A CLAP preset-discovery provider, as its own request left it.
struct PresetProvider
{
    std::string id, name, vendor;
    Status status = Status::ok;
    int attempts = 1;
    std::string error;
    std::string phase; // the step it failed, crashed or hung in: "create", "init", "metadata", ...
    // The presets the provider gave (more than were kept, when cut).
    int presetCount = 0;
    // The file extensions it declared ("" for any file), in order.
    std::vector<std::string> fileTypes;
};

// A module's presets, as a scan with presets asked for found them.
struct ModulePresets
{
    // CLAP: the ID its preset-discovery factory was found under
    // ("clap.preset-discovery-factory/2" or the older
    // "clap.preset-discovery-factory/draft-2"); "" when it has none.
    std::string factory;
    // The module file's last write (ModuleRecord::modified) when they were
    // read: presets read from an older build of the module are read again.
    std::string moduleModified;
    std::vector<PresetProvider> providers; // CLAP
    std::vector<PresetLocation> locations;
    std::vector<Preset> presets;
    // What was not a preset: a malformed file, a file for another plugin,
    // a provider's error for a location, a list cut at a bound.
    std::vector<std::string> findings;
};

// module's own request: a shell whose own scan is ok stays ok when one of
// its sub-plugins crashed or hung; that plugin entry carries the outcome.
// plugins holds the module's own plugin first (when a report came back),
// then one entry per sub-plugin in report order.
struct ModuleResult
{
    std::wstring path; // a VST3 bundle's folder, else the module file
    PluginFormat format = PluginFormat::vst2;
    Status status = Status::ok;
    int attempts = 0;
    uint32_t scanMs = 0;
    std::string error;           // made from the data below, for people
    // Why the module cannot be loaded, found by the library itself from the
    // module file: built for another machine (then also the error, and no
    // server saw it), or the DLLs it imports that are nowhere Windows looks
    // ("needs a.dll, not found", after the server's "err=126"). "" otherwise.
    std::string loadProblem;
    std::optional<int> exitCode; // crashed or lost: how the server ended
    std::optional<CrashInfo> crash;    // crashed
    std::vector<DialogWindow> windows; // timeout: the windows it waited on
    std::vector<PluginEntry> plugins;
    std::string server; // the banner of the server that scanned it ("" when none started)
    // The machine the module (a VST3 bundle's binary) was built for, from
    // its PE header: "x64", "x86", "arm64", "arm64ec", "arm64x", "arm" or
    // "machine 0xNNNN"; "" when the file is no readable PE image.
    std::string machine;
    // VST3 bundles: the binary folders under Contents that hold a binary of
    // the bundle's name ("x86_64-win", "x86-win", "arm64-win",
    // "arm64ec-win", "arm64x-win"), in that order.
    std::vector<std::string> architectures;

    // VST3 and CLAP.
    std::wstring binary;    // the DLL that was (or would be) loaded
    std::string phase;      // the step the module's own request failed, crashed or hung in
    // CLAP only.
    std::string clapVersion; // the entry's clap_version, "1.2.2"; "" when not read
    int pluginCount = 0;     // get_plugin_count(), as the plugin said
    // VST3 only.
    std::optional<Vst3Factory> factory; // when the factory was read
    int classCount = 0;     // the factory's countClasses(), as the plugin said
    // The classes came from moduleinfo.json alone; no plugin code was loaded.
    bool moduleInfoOnly = false;
    // The scan was cancelled before the module's scan ended: nothing here
    // is a result, and a session leaves the module's entry as it was.
    bool cancelled = false;
    // What the scan noticed that is not a failure, one sentence each: what
    // moduleinfo.json says that is not so ("class 5653...: name 'A' in
    // moduleinfo.json, 'B' from the factory"), crashes survived in clean-up,
    // a CLAP descriptor skipped ("plugin 3: no id; skipped"), a count cut.
    std::vector<std::string> findings;
    // VST3 and CLAP: the module's presets, once a scan with presets asked
    // for read them.
    std::optional<ModulePresets> presets;
};

// True when the module, or any of its plugins, did not end ok.
bool HasProblem(const ModuleResult& result);
// True when the module, or any of its plugins, crashed, timed out or was
// lost: worth another try only when the user asks.
bool EndedBadly(const ModuleResult& result);

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

// Scans modules one after the other on one server: shell sub-plugins and a
// VST3 module's audio module classes with one load, each in a request of its
// own, crash retries in fresh servers (crashRetries more attempts; a
// time-out is never retried), crash attribution by the dump. A crash whose
// faulting module is one scanned earlier by the same server process is
// reported through onBlame and the cut-off request runs again (it does not
// count as an attempt). A module built for x86 goes to a 32-bit server of
// its own (ServerConfig::x86ServerExe), started when the first such module
// comes and kept beside the 64-bit one: each machine's server is persistent,
// and one request at a time runs on either. Not thread-safe: one thread per
// scanner.
class ModuleScanner
{
public:
    ModuleScanner(ServerConfig config, int crashRetries = 1);
    ~ModuleScanner();
    ModuleScanner(const ModuleScanner&) = delete;
    ModuleScanner& operator=(const ModuleScanner&) = delete;

    ModuleResult ScanModule(const std::wstring& path, const ScanCallbacks& callbacks = {});
    // The presets of a module scanned before (its entry as scanned: a VST3
    // module's classes name its preset folders), on the server of its
    // machine where reading them runs plugin code (CLAP). nullopt for a
    // format without presets, and when cancelled.
    std::optional<ModulePresets> ScanPresets(const ModuleResult& module, const ScanCallbacks& callbacks = {});
    // From any thread: ends the request in flight now (its server is
    // ended) and every later one at once; their results say cancelled.
    void Cancel();
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
    // The presets of modules scanned before (ModuleScanner::ScanPresets),
    // on the same servers and with the same rules: onBegin, onDialog and
    // onBlame as for ScanAll, then onPresets for each module (nullopt: a
    // format without presets, or cancelled) instead of onFinish.
    using PresetsDone = std::function<void(size_t server, size_t module, std::optional<ModulePresets>&& presets)>;
    void ScanPresets(const std::vector<ModuleResult>& modules, const PoolCallbacks& callbacks,
                     const PresetsDone& onPresets);
    // From any thread, a callback too, before or during ScanAll: no server
    // takes another module, the servers in flight are ended at once, and
    // the modules they scanned are handed to onFinish with
    // ModuleResult::cancelled set. ScanAll then ends them without waiting.
    // A cancel before ScanAll holds for the next ScanAll, which then scans
    // nothing; once that returns, the one after it scans anew.
    void Cancel();
    bool Cancelled() const;
    // The dump folder of one server.
    static std::wstring ServerDumpFolder(const std::wstring& dumpFolder, size_t server);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvanta
