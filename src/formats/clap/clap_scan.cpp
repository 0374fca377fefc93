// A CLAP module's scan: its descriptors in one request ("clap|path"), each
// plugin's instance in a request of its own ("clap|path>ID"), and last the
// module's clean-up ("clap|"), so that a crash or hang in its deinit is this
// module's and not the next one's.
#include "formats/clap/clap_host_rules.h"
#include "formats/clap/clap_links.h"
#include "formats/clap/clap_unit.h"
#include "formats/scan_context.h"
#include <algorithm>
#include <map>

namespace orvanta {

namespace {

ScanRequest ModuleRequest(const std::wstring& path)
{
    return {path, [path](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestClap(path, {}, onDialog);
            }};
}

// A plugin request loads its module itself, also in a fresh server.
ScanRequest PluginRequest(const std::wstring& path, const std::string& id)
{
    return {path, [path, id](ScanServer& server, const DialogFn& onDialog) {
                return server.RequestClap(path, id, onDialog);
            }};
}

ScanRequest FreeRequest(const std::wstring& path)
{
    return {path, [path](ScanServer& server, const DialogFn& onDialog) {
                return server.FreeClap(path, onDialog);
            }};
}

// The entry of the report's plugin at index, as its descriptor and its
// module's factories declare it.
PluginEntry ListedPlugin(const ClapModuleReport& report, size_t index)
{
    PluginEntry entry;
    entry.clap = report.plugins[index].info;
    entry.clap->sources = {ClapFromDescriptor};
    entry.replaces = ClapDeclaredLinks(report, index);
    MarkClapAra(report.araFactory, &entry);
    return entry;
}

// "plugin ID: description, features cut at the server's bound".
std::string CutFinding(const ClapPlugin& info)
{
    std::string members;
    for (const std::string& member : info.cut)
        members += (members.empty() ? "" : ", ") + member;
    return "plugin " + info.id + ": " + members + " cut at the server's bound";
}

// One entry per plugin ID the factory listed. A factory may list one ID
// many times; create_plugin can only ever make the first, so a repeat is
// no entry of its own but counted, and named once, so that a factory
// repeating one descriptor 4096 times gives one entry and one finding.
void ListPlugins(const ClapModuleReport& report, ModuleResult& result)
{
    result.clapVersion = report.clapVersion;
    result.pluginCount = report.pluginCount;
    std::vector<std::pair<std::string, int>> listings; // per ID, in first-listed order
    std::map<std::string, size_t> listingOf;
    for (size_t i = 0; i < report.plugins.size(); i++)
    {
        const ClapModuleReport::Plugin& listed = report.plugins[i];
        // A descriptor without an ID or name names no plugin to ask for.
        if (!listed.problem.empty())
        {
            result.findings.push_back("plugin " + std::to_string(listed.index) + ": " + listed.problem +
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
        if (!listed.info.cut.empty())
            result.findings.push_back(CutFinding(listed.info));
        result.plugins.push_back(ListedPlugin(report, i));
    }
    for (const auto& listing : listings)
        if (listing.second > 1)
            result.findings.push_back("plugin " + listing.first + ": listed " + std::to_string(listing.second) +
                                      " times by the factory; scanned once");
    // The server lists at most 4096 descriptors.
    if (report.pluginCount > (int)report.plugins.size())
        result.findings.push_back("the factory says it has " + std::to_string(report.pluginCount) +
                                  " plugins; the first " + std::to_string(report.plugins.size()) + " were read");
}

// No request line can carry an empty ID or one holding a control character.
std::string UnsendableIdError(const std::string& id)
{
    if (id.empty())
        return "the plugin ID is empty, so it cannot be requested";
    bool control = std::any_of(id.begin(), id.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
    return control ? "the plugin ID holds a control character, so it cannot be requested" : "";
}

// One plugin's instance: its ports and whether it has a GUI.
void ScanPlugin(ScanContext& context, PluginEntry* entry)
{
    const std::wstring& path = context.Result().path;
    const std::string& id = entry->clap->id;
    RequestOutcome outcome = context.RunPlugin(PluginRequest(path, id), FreeRequest(path), "plugin " + id + ": ", entry);
    if (outcome.status == Status::ok && outcome.clapPlugin)
    {
        entry->clap->ports = outcome.clapPlugin->ports;
        entry->clap->gui = outcome.clapPlugin->gui;
        entry->clap->sources.push_back(ClapFromInstance);
    }
}

} // namespace

void ClapUnit::Scan(ScanContext& context) const
{
    // A CLAP module is one DLL, whatever its name.
    ModuleResult& result = context.Result();
    const std::wstring& path = result.path;
    result.binary = path;
    if (!context.LoadableMachine(path))
        return;

    RequestOutcome outcome = context.RunWithRetries(ModuleRequest(path), &result.attempts);
    context.TakeOutcome(outcome);
    // A module that fails on its way in is freed at once, deinit included;
    // a crash survived there ends the server, as one in a later clean-up.
    context.NoteSurvivedCrashes(outcome, "");
    if (!outcome.survivedCrashes.empty())
        context.EndServer();
    result.phase = outcome.phase;
    context.NoteMissingDependencies(outcome, path);
    if (!outcome.clapModule)
        return;
    ListPlugins(*outcome.clapModule, result);
    if (outcome.status != Status::ok)
        return;
    if (result.plugins.empty())
    {
        result.status = Status::failed;
        result.error = "the factory lists no plugins";
        context.FreeModule(FreeRequest(path));
        return;
    }
    for (PluginEntry& entry : result.plugins)
    {
        std::string unsendable = UnsendableIdError(entry.clap->id);
        if (!unsendable.empty())
        {
            entry.status = Status::failed;
            entry.error = unsendable;
            continue;
        }
        ScanPlugin(context, &entry);
    }
    context.FreeModule(FreeRequest(path));
}

} // namespace orvanta
