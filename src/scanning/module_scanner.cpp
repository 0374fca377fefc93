// Modules one after the other on one server. What a module's format asks of
// the server is its unit's (formats/format_unit.h); what every format
// shares is here: a crash is retried in a fresh server, a time-out is not
// (it is usually a dialog), and a crash whose faulting address lies in a
// module this process scanned earlier is that module's (a thread it left
// running), and the cut-off request runs again.
#include "formats/format_unit.h"
#include "formats/scan_context.h"
#include "discovery/load_problem.h"
#include "discovery/module_image.h"
#include "server_process/protocol.h"
#include "server_process/scan_server.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <map>

namespace orvanta {
namespace {

// How often one request may be cut off by crashes of earlier modules
// before its own outcome is taken as it is.
const int MaxBlamedRepeats = 4;

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

// What a scanner keeps from one module to the next, for each machine: its
// server, and which module each binary it requested belongs to.
struct ScannerState
{
    explicit ScannerState(ServerConfig config)
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
};

std::wstring ScannerState::ModuleOf(const std::wstring& file) const
{
    auto it = moduleOfBinary.find(PathKey(file));
    return it == moduleOfBinary.end() ? file : it->second;
}

bool ScannerState::BlameEarlier(const RequestOutcome& outcome, const std::wstring& current,
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

// The 32-bit server's dumps go into a folder of their own: a server takes
// the newest new file of its folder as its crash's dump.
ServerConfig X86Config(ServerConfig config)
{
    config.serverExe = config.x86ServerExe;
    if (!config.dumpFolder.empty())
        config.dumpFolder += L"\\x86";
    return config;
}

// One module's scan: what a format's unit uses of the scanner. Its requests
// go to the 64-bit server until the unit finds the module built for x86.
class ModuleScan final : public ScanContext
{
public:
    ModuleScan(ScannerState& x64, ScannerState& x86, const std::wstring& x86Exe, const ScanCallbacks& callbacks,
               ModuleResult& result)
        : m_scanner(&x64), m_x86(x86), m_x86Exe(x86Exe), m_callbacks(callbacks), m_result(result)
    {
    }
    ModuleResult& Result() override { return m_result; }
    bool ModuleInfoOnly() const override { return m_scanner->moduleInfoOnly; }
    const std::wstring& X86ServerExe() const override { return m_x86Exe; }
    void RememberBinary(const std::wstring& binary) override
    {
        m_scanner->moduleOfBinary[PathKey(binary)] = m_result.path;
    }
    RequestOutcome Run(const ScanRequest& request) override;
    RequestOutcome RunWithRetries(const ScanRequest& request, int* attempts) override;
    bool ServerRunning() const override { return m_scanner->server.Running(); }
    void EndServer() override { m_scanner->BlameEarlier(m_scanner->server.Finish(), std::wstring(), m_callbacks); }
    // The server that scanned the module (or would have).
    const ScanServer& Server() const { return m_scanner->server; }

protected:
    void UseX86Server() override { m_scanner = &m_x86; }

private:
    ScannerState* m_scanner;
    ScannerState& m_x86;
    const std::wstring& m_x86Exe;
    const ScanCallbacks& m_callbacks;
    ModuleResult& m_result;
};

RequestOutcome ModuleScan::Run(const ScanRequest& request)
{
    for (int repeat = 0;; repeat++)
    {
        bool again = repeat < MaxBlamedRepeats;
        if (request.sendFirst && !m_scanner->server.Running())
        {
            RequestOutcome first = request.sendFirst(m_scanner->server, m_callbacks.onDialog);
            m_result.scanMs += first.elapsedMs;
            if (again && m_scanner->BlameEarlier(first, request.file, m_callbacks))
                continue;
        }
        RequestOutcome outcome = request.send(m_scanner->server, m_callbacks.onDialog);
        m_result.scanMs += outcome.elapsedMs;
        if (again && m_scanner->BlameEarlier(outcome, request.file, m_callbacks))
            continue;
        return outcome;
    }
}

RequestOutcome ModuleScan::RunWithRetries(const ScanRequest& request, int* attempts)
{
    *attempts = 0;
    for (;;)
    {
        ++*attempts;
        RequestOutcome outcome = Run(request);
        if (outcome.status == Status::crashed && *attempts <= m_scanner->retries)
            continue;
        return outcome;
    }
}

} // namespace

// A module goes to the server of its machine: x86 ones to the 32-bit server
// when there is one. A module no server can load fails without asking one.
// Anything that is not a readable PE image goes to the 64-bit server as it
// is, which answers for it.
bool ScanContext::LoadableMachine(const std::wstring& binary)
{
    ModuleImage image = ReadModuleImage(binary, false);
    Result().machine = MachineName(image);
    if (image.kind != ModuleImage::Kind::image || image.machine == machine::X64)
        return true;
    const std::wstring& x86Exe = X86ServerExe();
    if (image.machine == machine::X86 && !x86Exe.empty())
    {
        if (ReadModuleImage(x86Exe, false).kind == ModuleImage::Kind::unreadable)
        {
            FailUnasked(MissingX86ServerText(x86Exe));
            return false;
        }
        UseX86Server();
        return true;
    }
    FailUnasked(WrongMachineText(image.machine, !x86Exe.empty()));
    return false;
}

void ScanContext::FailUnasked(const std::string& why)
{
    ModuleResult& result = Result();
    result.status = Status::failed;
    result.attempts = 1;
    result.error = result.loadProblem = why;
}

void ScanContext::TakeOutcome(const RequestOutcome& outcome)
{
    ModuleResult& result = Result();
    result.status = outcome.status;
    result.error = outcome.error;
    if (outcome.status != Status::ok && outcome.status != Status::failed && outcome.exitCode != -1)
        result.exitCode = outcome.exitCode;
    result.windows = outcome.windows;
    result.crash = outcome.crash;
}

void ScanContext::NoteMissingDependencies(const RequestOutcome& outcome, const std::wstring& binary)
{
    if (outcome.status == Status::failed && outcome.error == protocol::ModuleNotFoundError)
        Result().loadProblem = MissingDependencyText(binary);
}

void ScanContext::NoteSurvivedCrashes(const RequestOutcome& outcome, const std::string& who)
{
    for (const std::string& line : outcome.survivedCrashes)
        Result().findings.push_back(SurvivedCrashFinding(who, line));
}

// The module's clean-up (factory release, ExitDll or deinit, unloading) in
// a request of its own: a crash or hang there is this module's, in that
// phase, and not the next module's. Not retried: a fresh server holds
// nothing to free.
void ScanContext::FreeModule(const ScanRequest& free)
{
    if (!ServerRunning())
        return;
    RequestOutcome outcome = Run(free);
    NoteSurvivedCrashes(outcome, "");
    if (!outcome.survivedCrashes.empty())
        EndServer();
    if (outcome.status == Status::ok)
        return;
    TakeOutcome(outcome);
    ModuleResult& result = Result();
    result.error = "while being freed: " + result.error;
    result.phase = outcome.phase;
}

// A crash the server survived in a plugin's clean-up (terminate, release,
// destroy) may have left the process broken (a lock held, a heap torn):
// the module is freed in its own request and the server ended, so the next
// request starts clean.
RequestOutcome ScanContext::RunPlugin(const ScanRequest& request, const ScanRequest& free,
                                      const std::string& who, PluginEntry* entry)
{
    RequestOutcome outcome = RunWithRetries(request, &entry->attempts);
    entry->status = outcome.status;
    entry->error = outcome.error;
    entry->phase = outcome.phase;
    if (!outcome.survivedCrashes.empty())
    {
        NoteSurvivedCrashes(outcome, who);
        FreeModule(free);
        EndServer();
    }
    return outcome;
}

// Both servers exist from the start (a ScanServer starts its process on
// its first request), so a Cancel from another thread reaches either.
struct ModuleScanner::Impl
{
    explicit Impl(const ServerConfig& config) : x86Exe(config.x86ServerExe), x64(config), x86(X86Config(config)) {}
    std::wstring x86Exe;
    ScannerState x64, x86;
};

ModuleScanner::ModuleScanner(ServerConfig config, int crashRetries)
    : m_impl(new Impl(config))
{
    m_impl->x64.retries = m_impl->x86.retries = crashRetries < 0 ? 0 : crashRetries;
}

ModuleScanner::~ModuleScanner() = default;

void ModuleScanner::Finish(const ScanCallbacks& callbacks)
{
    for (ScannerState* state : {&m_impl->x64, &m_impl->x86})
    {
        RequestOutcome outcome = state->server.Finish();
        state->BlameEarlier(outcome, std::wstring(), callbacks);
    }
}

ModuleResult ModuleScanner::ScanModule(const std::wstring& path, const ScanCallbacks& callbacks)
{
    ModuleResult result;
    result.path = path;
    result.format = FormatOfPath(path);
    ModuleScan scan(m_impl->x64, m_impl->x86, m_impl->x86Exe, callbacks, result);
    UnitOf(result.format).Scan(scan);
    result.server = scan.Server().Banner();
    // Once cancelled, every request ends at once without a server: what
    // was read is no result.
    result.cancelled = scan.Server().Cancelled();
    return result;
}

std::optional<ModulePresets> ModuleScanner::ScanPresets(const ModuleResult& module, const ScanCallbacks& callbacks)
{
    ModuleResult scratch;
    scratch.path = module.path;
    scratch.format = module.format;
    ModuleScan scan(m_impl->x64, m_impl->x86, m_impl->x86Exe, callbacks, scratch);
    ModulePresets presets;
    if (!UnitOf(module.format).ScanPresets(scan, module, &presets) || scan.Server().Cancelled())
        return std::nullopt;
    return presets;
}

void ModuleScanner::Cancel()
{
    m_impl->x64.server.Cancel();
    m_impl->x86.server.Cancel();
}

} // namespace orvanta
