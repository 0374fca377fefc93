// Modules one after the other on one server. A shell's sub-plugins are
// requested as "path>ID" against the same process, so the module is loaded
// once per server; a sub-plugin that ends the server is recorded alone and
// the shell is requested again in the fresh one. A crash is retried in a
// fresh server; a time-out is not (it is usually a dialog). A crash whose
// faulting address lies in a module this process scanned earlier is that
// module's (a thread it left running), and the cut-off request runs again.
#include "load_problem.h"
#include "module_image.h"
#include "protocol.h"
#include "scan_server.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"

namespace orvanta {
namespace {

// How often one request may be cut off by crashes of earlier modules
// before its own outcome is taken as it is.
const int MaxBlamedRepeats = 4;

} // namespace

struct ModuleScanner::Impl
{
    explicit Impl(ServerConfig config) : server(std::move(config)) {}
    ScanServer server;
    int retries = 1;

    bool BlameEarlier(const RequestOutcome& outcome, const std::wstring& current,
                      const ScanCallbacks& callbacks);
    RequestOutcome Run(const std::wstring& path, std::optional<uint32_t> shellId,
                       const ScanCallbacks& callbacks, ModuleResult* result);
    RequestOutcome RunWithRetries(const std::wstring& path, std::optional<uint32_t> shellId,
                                  const ScanCallbacks& callbacks, ModuleResult* result,
                                  int* attempts);
    void ScanShell(const std::wstring& path, const PluginReport& report,
                   const ScanCallbacks& callbacks, ModuleResult* result);
};

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
                Blame blame{earlier, *outcome.crash};
                blame.crash.leftOverThread = true;
                callbacks.onBlame(blame);
            }
            return true;
        }
    }
    return false;
}

// One request, repeated when it was cut off by an earlier module's crash.
// A sub-plugin in a fresh server gets the shell requested first, so the
// shell is cached again (that outcome does not matter: "path>ID" loads the
// module anyway).
RequestOutcome ModuleScanner::Impl::Run(const std::wstring& path, std::optional<uint32_t> shellId,
                                        const ScanCallbacks& callbacks, ModuleResult* result)
{
    for (int repeat = 0;; repeat++)
    {
        bool again = repeat < MaxBlamedRepeats;
        if (shellId && !server.Running())
        {
            RequestOutcome shell = server.Request(path, {}, callbacks.onDialog);
            result->scanMs += shell.elapsedMs;
            if (again && BlameEarlier(shell, path, callbacks))
                continue;
        }
        RequestOutcome outcome = server.Request(path, shellId, callbacks.onDialog);
        result->scanMs += outcome.elapsedMs;
        if (again && BlameEarlier(outcome, path, callbacks))
            continue;
        return outcome;
    }
}

RequestOutcome ModuleScanner::Impl::RunWithRetries(const std::wstring& path,
                                                   std::optional<uint32_t> shellId,
                                                   const ScanCallbacks& callbacks,
                                                   ModuleResult* result, int* attempts)
{
    *attempts = 0;
    for (;;)
    {
        ++*attempts;
        RequestOutcome outcome = Run(path, shellId, callbacks, result);
        if (outcome.status == Status::crashed && *attempts <= retries)
            continue;
        return outcome;
    }
}

void ModuleScanner::Impl::ScanShell(const std::wstring& path, const PluginReport& report,
                                    const ScanCallbacks& callbacks, ModuleResult* result)
{
    for (const ShellEntry& sub : report.shells)
    {
        PluginEntry entry;
        entry.shellId = sub.id;
        RequestOutcome outcome = RunWithRetries(path, sub.id, callbacks, result, &entry.attempts);
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
    // A module built for another machine can never load in an x64 server:
    // say so without asking one. Anything that is not a readable PE image
    // goes to the server as it is, which answers for it.
    ModuleImage image = ReadModuleImage(path, false);
    if (image.kind == ModuleImage::Kind::image && image.machine != machine::X64)
    {
        result.status = Status::failed;
        result.attempts = 1;
        result.error = result.loadProblem = WrongMachineText(image.machine);
        result.server = m_impl->server.Banner();
        return result;
    }
    RequestOutcome outcome = m_impl->RunWithRetries(path, {}, callbacks, &result, &result.attempts);
    result.status = outcome.status;
    result.error = outcome.error;
    if (outcome.status != Status::ok && outcome.status != Status::failed && outcome.exitCode != -1)
        result.exitCode = outcome.exitCode;
    if (outcome.status == Status::failed && outcome.error == protocol::ModuleNotFoundError)
        result.loadProblem = MissingDependencyText(path);
    result.windows = outcome.windows;
    result.crash = outcome.crash;
    if (outcome.report)
    {
        PluginEntry own;
        own.status = outcome.status;
        own.error = outcome.error;
        own.attempts = result.attempts;
        own.report = *outcome.report;
        result.plugins.push_back(own);
        if (outcome.status == Status::ok && !outcome.report->shells.empty())
            m_impl->ScanShell(path, *outcome.report, callbacks, &result);
    }
    result.server = m_impl->server.Banner();
    return result;
}

} // namespace orvanta
