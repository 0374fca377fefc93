// A VST 2 module's scan: the module's own request in the "vst2|" form, then
// for a shell each sub-plugin as "path>ID" against the same server, so the
// module is loaded once per server. A sub-plugin that ends the server is
// recorded alone, and the shell is requested again in the fresh one.
#include "formats/scan_context.h"
#include "formats/vst2/vst2_unit.h"

namespace orvanta {

namespace {

ScanRequest ModuleRequest(const std::wstring& path)
{
    return {path, [path](ScanServer& server, const DialogFn& onDialog) {
                return server.Request(path, {}, onDialog);
            }};
}

// A sub-plugin in a fresh server gets the shell requested first, so the
// shell is cached again ("path>ID" loads the module anyway).
ScanRequest SubPluginRequest(const std::wstring& path, uint32_t id)
{
    ScanRequest request = ModuleRequest(path);
    request.sendFirst = request.send;
    request.send = [path, id](ScanServer& server, const DialogFn& onDialog) {
        return server.Request(path, id, onDialog);
    };
    return request;
}

void ScanShell(ScanContext& context, const Vst2Report& report)
{
    ModuleResult& result = context.Result();
    for (const ShellEntry& sub : report.shells)
    {
        PluginEntry entry;
        entry.shellId = sub.id;
        RequestOutcome outcome = context.RunWithRetries(SubPluginRequest(result.path, sub.id), &entry.attempts);
        entry.status = outcome.status;
        entry.error = outcome.error;
        if (outcome.report)
            entry.report = *outcome.report;
        else
        {
            entry.report.id = sub.id;
            entry.report.name = sub.name;
        }
        result.plugins.push_back(std::move(entry));
    }
}

} // namespace

void Vst2Unit::Scan(ScanContext& context) const
{
    ModuleResult& result = context.Result();
    const std::wstring& path = result.path;
    if (!context.LoadableMachine(path))
        return;
    RequestOutcome outcome = context.RunWithRetries(ModuleRequest(path), &result.attempts);
    context.TakeOutcome(outcome);
    context.NoteMissingDependencies(outcome, path);
    if (!outcome.report)
        return;
    PluginEntry own;
    own.status = outcome.status;
    own.error = outcome.error;
    own.attempts = result.attempts;
    own.report = *outcome.report;
    result.plugins.push_back(own);
    if (outcome.status == Status::ok && !outcome.report->shells.empty())
        ScanShell(context, *outcome.report);
}

} // namespace orvanta
