// Modules one after the other on one server. A shell's sub-plugins are
// requested as "path>ID" against the same process, so the module is loaded
// once per server; a sub-plugin that ends the server is recorded alone and
// the shell is requested again in the fresh one. A VST3 module is read the
// same way: its factory and classes in one request, then each audio module
// class's instance in a request of its own ("vst3|binary>CID"), and a CLAP
// module likewise: its descriptors, then each plugin's instance
// ("clap|path>ID"), then its clean-up ("clap|"). A crash is
// retried in a fresh server; a time-out is not (it is usually a dialog). A
// crash whose faulting address lies in a module this process scanned
// earlier is that module's (a thread it left running), and the cut-off
// request runs again.
#include "bundle_binary.h"
#include "clap_links.h"
#include "host_rules.h"
#include "load_problem.h"
#include "module_image.h"
#include "protocol.h"
#include "scan_server.h"
#include "orvanta/module_info.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <algorithm>
#include <map>

namespace orvanta {
namespace {

// How often one request may be cut off by crashes of earlier modules
// before its own outcome is taken as it is.
const int MaxBlamedRepeats = 4;

// What one request asks of the server.
struct Job
{
    std::wstring file;               // what the server loads: the module, or a VST3 binary
    PluginFormat format = PluginFormat::vst2;
    std::optional<uint32_t> shellId = {}; // a VST 2 shell's sub-plugin
    std::string pluginId = {};       // a VST3 class's or a CLAP plugin's instance
    bool free = false;               // VST3, CLAP: free the module file names
};


// "Crash in terminate (C0000005), ignored" as a finding about who:
// "class ...: crashed in terminate (C0000005); the server survived it".
std::string SurvivedCrashFinding(const std::string& who, const std::string& line)
{
    std::string what = line;
    const std::string head = "Crash in ", tail = ", ignored";
    if (what.compare(0, head.size(), head) == 0)
        what = what.substr(head.size());
    if (what.size() >= tail.size() && what.compare(what.size() - tail.size(), tail.size(), tail) == 0)
        what = what.substr(0, what.size() - tail.size());
    return who + "crashed in " + what + "; the server survived it";
}

// The steps before a VST3 factory exists: a failure there read no factory.
bool FactoryRead(const Vst3ModuleReport& report)
{
    return report.error.empty() ||
           (report.phase != "load" && report.phase != "InitDll" && report.phase != "GetPluginFactory");
}

// A module that no server is asked about: failed in one attempt.
void FailUnasked(ModuleResult* result, const std::string& why)
{
    result->status = Status::failed;
    result->attempts = 1;
    result->error = result->loadProblem = why;
}

// The crashes the server survived in guarded clean-up steps, as findings.
void NoteSurvivedCrashes(const RequestOutcome& outcome, const std::string& who, ModuleResult* result)
{
    for (const std::string& line : outcome.survivedCrashes)
        result->findings.push_back(SurvivedCrashFinding(who, line));
}

} // namespace

struct ModuleScanner::Impl
{
    explicit Impl(ServerConfig config)
        : moduleInfoOnly(config.moduleInfoOnly), server(std::move(config))
    {
    }
    bool moduleInfoOnly;
    ScanServer server;
    int retries = 1;
    // The module (a bundle's folder) of each VST3 binary requested, by the
    // binary's path key: a dump names the binary, a blame names the module.
    std::map<std::wstring, std::wstring> moduleOfBinary;

    std::wstring ModuleOf(const std::wstring& file) const;
    bool BlameEarlier(const RequestOutcome& outcome, const std::wstring& current,
                      const ScanCallbacks& callbacks);
    RequestOutcome Request(const Job& job, const ScanCallbacks& callbacks);
    RequestOutcome Run(const Job& job, const ScanCallbacks& callbacks, ModuleResult* result);
    RequestOutcome RunWithRetries(const Job& job, const ScanCallbacks& callbacks,
                                  ModuleResult* result, int* attempts);
    void TakeOutcome(const RequestOutcome& outcome, ModuleResult* result);
    void ScanVst2(const ScanCallbacks& callbacks, ModuleResult* result);
    void ScanShell(const std::wstring& path, const PluginReport& report,
                   const ScanCallbacks& callbacks, ModuleResult* result);
    void ScanVst3(const ScanCallbacks& callbacks, ModuleResult* result);
    void ScanClass(const std::wstring& binary, const ScanCallbacks& callbacks, ModuleResult* result,
                   PluginEntry* entry);
    void ScanClap(const ScanCallbacks& callbacks, ModuleResult* result);
    void ScanClapPlugin(const ScanCallbacks& callbacks, ModuleResult* result, PluginEntry* entry);
    void FreeModule(const std::wstring& binary, PluginFormat format, const ScanCallbacks& callbacks,
                    ModuleResult* result);
    void EndServer(const ScanCallbacks& callbacks);
};

std::wstring ModuleScanner::Impl::ModuleOf(const std::wstring& file) const
{
    auto it = moduleOfBinary.find(PathKey(file));
    return it == moduleOfBinary.end() ? file : it->second;
}

bool ModuleScanner::Impl::BlameEarlier(const RequestOutcome& outcome, const std::wstring& current,
                                       const ScanCallbacks& callbacks)
{
    if (outcome.status != Status::crashed || !outcome.crash || outcome.crash->faultingModule.empty())
        return false;
    std::wstring faulting = ToWide(outcome.crash->faultingModule);
    if (SamePath(faulting, current))
        return false;
    for (const std::wstring& earlier : server.ScannedByThisProcess())
    {
        if (!SamePath(earlier, current) && SamePath(earlier, faulting))
        {
            if (callbacks.onBlame)
            {
                Blame blame{ModuleOf(earlier), *outcome.crash};
                blame.crash.leftOverThread = true;
                callbacks.onBlame(blame);
            }
            return true;
        }
    }
    return false;
}

RequestOutcome ModuleScanner::Impl::Request(const Job& job, const ScanCallbacks& callbacks)
{
    if (job.format == PluginFormat::vst3)
        return job.free ? server.FreeVst3(job.file, callbacks.onDialog)
                        : server.RequestVst3(job.file, job.pluginId, callbacks.onDialog);
    if (job.format == PluginFormat::clap)
        return job.free ? server.FreeClap(job.file, callbacks.onDialog)
                        : server.RequestClap(job.file, job.pluginId, callbacks.onDialog);
    return server.Request(job.file, job.shellId, callbacks.onDialog);
}

// One request, repeated when it was cut off by an earlier module's crash.
// A sub-plugin in a fresh server gets the shell requested first, so the
// shell is cached again (that outcome does not matter: "path>ID" loads the
// module anyway). A VST3 class request loads its module itself.
RequestOutcome ModuleScanner::Impl::Run(const Job& job, const ScanCallbacks& callbacks,
                                        ModuleResult* result)
{
    for (int repeat = 0;; repeat++)
    {
        bool again = repeat < MaxBlamedRepeats;
        if (job.shellId && !server.Running())
        {
            RequestOutcome shell = server.Request(job.file, {}, callbacks.onDialog);
            result->scanMs += shell.elapsedMs;
            if (again && BlameEarlier(shell, job.file, callbacks))
                continue;
        }
        RequestOutcome outcome = Request(job, callbacks);
        result->scanMs += outcome.elapsedMs;
        if (again && BlameEarlier(outcome, job.file, callbacks))
            continue;
        return outcome;
    }
}

RequestOutcome ModuleScanner::Impl::RunWithRetries(const Job& job, const ScanCallbacks& callbacks,
                                                   ModuleResult* result, int* attempts)
{
    *attempts = 0;
    for (;;)
    {
        ++*attempts;
        RequestOutcome outcome = Run(job, callbacks, result);
        if (outcome.status == Status::crashed && *attempts <= retries)
            continue;
        return outcome;
    }
}

// The module's own request, whatever its format.
void ModuleScanner::Impl::TakeOutcome(const RequestOutcome& outcome, ModuleResult* result)
{
    result->status = outcome.status;
    result->error = outcome.error;
    if (outcome.status != Status::ok && outcome.status != Status::failed && outcome.exitCode != -1)
        result->exitCode = outcome.exitCode;
    result->windows = outcome.windows;
    result->crash = outcome.crash;
}

void ModuleScanner::Impl::ScanVst2(const ScanCallbacks& callbacks, ModuleResult* result)
{
    const std::wstring& path = result->path;
    // A module built for another machine can never load in an x64 server:
    // say so without asking one. Anything that is not a readable PE image
    // goes to the server as it is, which answers for it.
    ModuleImage image = ReadModuleImage(path, false);
    result->machine = MachineName(image);
    if (image.kind == ModuleImage::Kind::image && image.machine != machine::X64)
        return FailUnasked(result, WrongMachineText(image.machine));
    Job job{path};
    RequestOutcome outcome = RunWithRetries(job, callbacks, result, &result->attempts);
    TakeOutcome(outcome, result);
    if (outcome.status == Status::failed && outcome.error == protocol::ModuleNotFoundError)
        result->loadProblem = MissingDependencyText(path);
    if (outcome.report)
    {
        PluginEntry own;
        own.status = outcome.status;
        own.error = outcome.error;
        own.attempts = result->attempts;
        own.report = *outcome.report;
        result->plugins.push_back(own);
        if (outcome.status == Status::ok && !outcome.report->shells.empty())
            ScanShell(path, *outcome.report, callbacks, result);
    }
}

void ModuleScanner::Impl::ScanShell(const std::wstring& path, const PluginReport& report,
                                    const ScanCallbacks& callbacks, ModuleResult* result)
{
    for (const ShellEntry& sub : report.shells)
    {
        PluginEntry entry;
        entry.shellId = sub.id;
        Job job{path, PluginFormat::vst2, sub.id};
        RequestOutcome outcome = RunWithRetries(job, callbacks, result, &entry.attempts);
        entry.status = outcome.status;
        entry.error = outcome.error;
        if (outcome.report)
            entry.report = *outcome.report;
        else
        {
            entry.report.id = sub.id;
            entry.report.name = sub.name;
        }
        result->plugins.push_back(std::move(entry));
    }
}

void ModuleScanner::Impl::ScanVst3(const ScanCallbacks& callbacks, ModuleResult* result)
{
    // Listed from moduleinfo.json alone when asked, and the file reads cleanly:
    // no server starts for it, no plugin code runs.
    if (moduleInfoOnly)
    {
        if (std::optional<ModuleResult> listed = ModuleInfoResult(result->path))
        {
            std::wstring path = result->path;
            *result = std::move(*listed);
            result->path = path;
            return;
        }
    }
    std::string why;
    result->architectures = Vst3BundleArchitectures(result->path);
    if (!FindVst3Binary(result->path, &result->binary, &why))
        return FailUnasked(result, why);
    const std::wstring& binary = result->binary;
    ModuleImage image = ReadModuleImage(binary, false);
    result->machine = MachineName(image);
    if (image.kind == ModuleImage::Kind::image && image.machine != machine::X64)
        return FailUnasked(result, WrongMachineText(image.machine));
    moduleOfBinary[PathKey(binary)] = result->path;

    Job job{binary, PluginFormat::vst3};
    RequestOutcome outcome = RunWithRetries(job, callbacks, result, &result->attempts);
    TakeOutcome(outcome, result);
    result->phase = outcome.phase;
    if (outcome.status == Status::failed && outcome.error == protocol::ModuleNotFoundError)
        result->loadProblem = MissingDependencyText(binary);
    if (!outcome.vst3Module)
        return;
    const Vst3ModuleReport& report = *outcome.vst3Module;
    if (FactoryRead(report))
        result->factory = report.factory;
    result->classCount = report.classCount;
    for (const Vst3ModuleReport::Class& cls : report.classes)
    {
        PluginEntry entry;
        entry.vst3 = cls.info;
        entry.vst3->sources = {Vst3FromFactory};
        if (cls.infoLevel == 0)
        {
            entry.status = Status::failed;
            entry.error = "the factory gave no class info for index " + std::to_string(cls.index);
        }
        result->plugins.push_back(std::move(entry));
    }
    if (result->factory)
        ApplyFactoryVendor(result->factory->vendor, &result->plugins);
    if (outcome.status != Status::ok)
        return;
    // What the bundle's moduleinfo.json says is checked against what the
    // factory said; where the file cannot be used, that is the finding.
    ModuleInfo info = ReadModuleInfo(result->path);
    result->findings = info.findings;
    AddDeclaredLinks(info, &result->plugins);
    if (info.read)
    {
        std::vector<Vst3Class> fromFactory;
        for (const PluginEntry& entry : result->plugins)
            fromFactory.push_back(*entry.vst3);
        for (std::string& finding : CompareModuleInfo(info.classes, fromFactory))
            result->findings.push_back(std::move(finding));
    }
    if (result->plugins.empty())
    {
        result->status = Status::failed;
        result->error = "the factory lists no classes";
        FreeModule(binary, PluginFormat::vst3, callbacks, result);
        return;
    }
    // A factory may list one class ID twice; createInstance can only ever
    // make the first, so the repeat gets no request of its own.
    std::map<std::string, bool> requested;
    bool audioModule = false;
    for (PluginEntry& entry : result->plugins)
    {
        if (entry.status != Status::ok || entry.vst3->category != Vst3AudioModuleClass)
            continue;
        audioModule = true;
        if (requested[entry.vst3->classId])
        {
            entry.status = Status::failed;
            entry.error = "class ID " + entry.vst3->classId + " is listed twice by the factory";
            continue;
        }
        requested[entry.vst3->classId] = true;
        ScanClass(binary, callbacks, result, &entry);
    }
    if (!audioModule)
        result->findings.push_back("the factory lists no class of category '" +
                                   std::string(Vst3AudioModuleClass) + "'");
    for (std::string& finding : MarkVst3Ara(&result->plugins))
        result->findings.push_back(std::move(finding));
    MarkListedControllers(&result->plugins);
    FreeModule(binary, PluginFormat::vst3, callbacks, result);
}

// The module's clean-up (factory release, ExitDll or deinit, unloading) in a
// request of its own: a crash or hang there is this module's, in that phase,
// and not the next module's. Not retried: a fresh server holds nothing to free.
void ModuleScanner::Impl::FreeModule(const std::wstring& binary, PluginFormat format,
                                     const ScanCallbacks& callbacks, ModuleResult* result)
{
    if (!server.Running())
        return;
    Job job{binary, format, {}, {}, true};
    RequestOutcome outcome = Run(job, callbacks, result);
    NoteSurvivedCrashes(outcome, "", result);
    if (!outcome.survivedCrashes.empty())
        EndServer(callbacks);
    if (outcome.status == Status::ok)
        return;
    TakeOutcome(outcome, result);
    result->error = "while being freed: " + result->error;
    result->phase = outcome.phase;
}

// Ends the server between requests; a crash found then (a thread a module
// left running) is blamed as any other.
void ModuleScanner::Impl::EndServer(const ScanCallbacks& callbacks)
{
    BlameEarlier(server.Finish(), std::wstring(), callbacks);
}

// One class's instance: recorded on its own entry whatever happens to it.
void ModuleScanner::Impl::ScanClass(const std::wstring& binary, const ScanCallbacks& callbacks,
                                    ModuleResult* result, PluginEntry* entry)
{
    Job job{binary, PluginFormat::vst3, {}, entry->vst3->classId};
    RequestOutcome outcome = RunWithRetries(job, callbacks, result, &entry->attempts);
    entry->status = outcome.status;
    entry->error = outcome.error;
    entry->phase = outcome.phase;
    // A crash the server survived in terminate or release may have left the
    // process broken (a lock held, a heap torn): the module is freed in its
    // own request and the server ended, so the next request starts clean.
    if (!outcome.survivedCrashes.empty())
    {
        NoteSurvivedCrashes(outcome, "class " + entry->vst3->classId + ": ", result);
        FreeModule(binary, PluginFormat::vst3, callbacks, result);
        EndServer(callbacks);
    }
    if (outcome.status == Status::ok && outcome.vst3Class)
    {
        entry->vst3->buses = outcome.vst3Class->buses;
        entry->vst3->controller = outcome.vst3Class->controller;
        entry->vst3->sources.push_back(Vst3FromInstance);
    }
}

void ModuleScanner::Impl::ScanClap(const ScanCallbacks& callbacks, ModuleResult* result)
{
    // A CLAP module is one DLL, whatever its name.
    const std::wstring& path = result->path;
    result->binary = path;
    ModuleImage image = ReadModuleImage(path, false);
    result->machine = MachineName(image);
    if (image.kind == ModuleImage::Kind::image && image.machine != machine::X64)
        return FailUnasked(result, WrongMachineText(image.machine));

    Job job{path, PluginFormat::clap};
    RequestOutcome outcome = RunWithRetries(job, callbacks, result, &result->attempts);
    TakeOutcome(outcome, result);
    // A module that fails on its way in is freed at once, deinit included;
    // a crash survived there ends the server, as one in a later clean-up.
    NoteSurvivedCrashes(outcome, "", result);
    if (!outcome.survivedCrashes.empty())
        EndServer(callbacks);
    result->phase = outcome.phase;
    if (outcome.status == Status::failed && outcome.error == protocol::ModuleNotFoundError)
        result->loadProblem = MissingDependencyText(path);
    if (!outcome.clapModule)
        return;
    const ClapModuleReport& report = *outcome.clapModule;
    result->clapVersion = report.clapVersion;
    result->pluginCount = report.pluginCount;
    // A factory may list one ID many times; create_plugin can only ever make
    // the first, so a repeat is no entry of its own but counted, and named
    // once, so that a factory repeating one descriptor 4096 times gives one
    // entry and one finding.
    std::vector<std::pair<std::string, int>> listings; // per ID, in first-listed order
    std::map<std::string, size_t> listingOf;
    for (size_t i = 0; i < report.plugins.size(); i++)
    {
        const ClapModuleReport::Plugin& listed = report.plugins[i];
        // A descriptor without an ID or name names no plugin to ask for.
        if (!listed.problem.empty())
        {
            result->findings.push_back("plugin " + std::to_string(listed.index) + ": " + listed.problem +
                                       "; skipped");
            continue;
        }
        auto known = listingOf.find(listed.info.id);
        if (known != listingOf.end())
        {
            listings[known->second].second++;
            continue;
        }
        listingOf[listed.info.id] = listings.size();
        listings.emplace_back(listed.info.id, 1);
        PluginEntry entry;
        entry.clap = listed.info;
        entry.clap->sources = {ClapFromDescriptor};
        entry.replaces = ClapDeclaredLinks(report, i);
        MarkClapAra(report.araFactory, &entry);
        if (!listed.info.cut.empty())
        {
            std::string members;
            for (const std::string& member : listed.info.cut)
                members += (members.empty() ? "" : ", ") + member;
            result->findings.push_back("plugin " + listed.info.id + ": " + members +
                                       " cut at the server's bound");
        }
        result->plugins.push_back(std::move(entry));
    }
    for (const auto& listing : listings)
        if (listing.second > 1)
            result->findings.push_back("plugin " + listing.first + ": listed " + std::to_string(listing.second) +
                                       " times by the factory; scanned once");
    // The server lists at most 4096 descriptors.
    if (report.pluginCount > (int)report.plugins.size())
        result->findings.push_back("the factory says it has " + std::to_string(report.pluginCount) +
                                   " plugins; the first " + std::to_string(report.plugins.size()) +
                                   " were read");
    if (outcome.status != Status::ok)
        return;
    if (result->plugins.empty())
    {
        result->status = Status::failed;
        result->error = "the factory lists no plugins";
        FreeModule(path, PluginFormat::clap, callbacks, result);
        return;
    }
    for (PluginEntry& entry : result->plugins)
    {
        const std::string& id = entry.clap->id;
        bool sendable = !id.empty() && std::none_of(id.begin(), id.end(), [](char c) {
            return (unsigned char)c < 0x20 || c == 0x7F;
        });
        if (!sendable)
        {
            entry.status = Status::failed;
            entry.error = id.empty() ? "the plugin ID is empty, so it cannot be requested"
                                     : "the plugin ID holds a control character, so it cannot be requested";
            continue;
        }
        ScanClapPlugin(callbacks, result, &entry);
    }
    FreeModule(path, PluginFormat::clap, callbacks, result);
}

// One plugin's instance: recorded on its own entry whatever happens to it.
void ModuleScanner::Impl::ScanClapPlugin(const ScanCallbacks& callbacks, ModuleResult* result,
                                         PluginEntry* entry)
{
    Job job{result->path, PluginFormat::clap, {}, entry->clap->id};
    RequestOutcome outcome = RunWithRetries(job, callbacks, result, &entry->attempts);
    entry->status = outcome.status;
    entry->error = outcome.error;
    entry->phase = outcome.phase;
    // As for a VST3 class: a crash survived in destroy may have left the
    // process broken, so the module is freed and the server ended.
    if (!outcome.survivedCrashes.empty())
    {
        NoteSurvivedCrashes(outcome, "plugin " + entry->clap->id + ": ", result);
        FreeModule(result->path, PluginFormat::clap, callbacks, result);
        EndServer(callbacks);
    }
    if (outcome.status == Status::ok && outcome.clapPlugin)
    {
        entry->clap->ports = outcome.clapPlugin->ports;
        entry->clap->gui = outcome.clapPlugin->gui;
        entry->clap->sources.push_back(ClapFromInstance);
    }
}

ModuleScanner::ModuleScanner(ServerConfig config, int crashRetries)
    : m_impl(new Impl(std::move(config)))
{
    m_impl->retries = crashRetries < 0 ? 0 : crashRetries;
}

ModuleScanner::~ModuleScanner() = default;

void ModuleScanner::Finish(const ScanCallbacks& callbacks)
{
    RequestOutcome outcome = m_impl->server.Finish();
    m_impl->BlameEarlier(outcome, std::wstring(), callbacks);
}

ModuleResult ModuleScanner::ScanModule(const std::wstring& path, const ScanCallbacks& callbacks)
{
    ModuleResult result;
    result.path = path;
    result.format = FormatOfPath(path);
    if (result.format == PluginFormat::vst3)
        m_impl->ScanVst3(callbacks, &result);
    else if (result.format == PluginFormat::clap)
        m_impl->ScanClap(callbacks, &result);
    else
        m_impl->ScanVst2(callbacks, &result);
    result.server = m_impl->server.Banner();
    return result;
}

} // namespace orvanta
