#include "summary.h"
#include "progress.h"
#include <orvanta/database.h>
#include <orvanta/paths.h>
#include <orvanta/text.h>
#include <algorithm>
#include <cstdio>
#include <map>

namespace orvantacli {

using orvanta::ModuleResult;
using orvanta::Status;

namespace {

const Status AllStatuses[] = {Status::ok, Status::failed, Status::crashed, Status::timeout, Status::lost};

const char* Outcome(Status status)
{
    switch (status)
    {
    case Status::ok: return "ok";
    case Status::failed: return "failed";
    case Status::crashed: return "crashed";
    case Status::timeout: return "timed out";
    case Status::lost: return "lost";
    }
    return "lost";
}

std::string Counts(const std::map<Status, size_t>& counts)
{
    std::string text;
    for (Status s : AllStatuses)
    {
        auto it = counts.find(s);
        // A count that Replace took down to 0 is left out like one never
        // counted: "1 crashed", not "0 ok, 1 crashed".
        if (it == counts.end() || it->second == 0)
            continue;
        text += (text.empty() ? "" : ", ") + std::to_string(it->second) + " " + Outcome(s);
    }
    return text.empty() ? "0 ok" : text;
}

size_t Total(const std::map<Status, size_t>& counts)
{
    size_t total = 0;
    for (const auto& entry : counts)
        total += entry.second;
    return total;
}

// "2 modules (1 ok, 1 crashed), 5 plugins (4 ok, 1 crashed)".
std::string FormatCounts(const std::map<Status, size_t>& modules, const std::map<Status, size_t>& plugins)
{
    size_t m = Total(modules), p = Total(plugins);
    std::string text = std::to_string(m) + (m == 1 ? " module (" : " modules (") + Counts(modules) + "), ";
    if (p == 0)
        return text + "no plugins";
    return text + std::to_string(p) + (p == 1 ? " plugin (" : " plugins (") + Counts(plugins) + ")";
}

// " in PHASE" for a VST3 or CLAP request that went wrong in a known step.
std::string InPhase(const std::string& phase)
{
    return phase.empty() ? "" : " in " + phase;
}

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Seconds(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

// What a crash's data says: the exception and where, or why the dump says
// nothing, and whether a thread the module left running did it.
std::string CrashText(const ModuleResult& m)
{
    if (!m.crash)
        return m.error.empty() ? "" : ": " + m.error;
    const orvanta::CrashInfo& crash = *m.crash;
    std::string text;
    if (crash.exceptionCode)
    {
        text += ": exception " + orvanta::HexId(crash.exceptionCode);
        if (!crash.faultingModule.empty())
            text += " in " + FileName(crash.faultingModule);
        if (crash.leftOverThread)
            text += " (a thread it left running crashed the server during a later request)";
    }
    else if (!m.error.empty())
        text += ": " + m.error;
    if (!crash.dumpPath.empty())
        text += "; dump " + crash.dumpPath;
    return text;
}

// The kind of a finding, from the words every finding of that kind is made
// with (docs/client-library.md lists them), in the plural.
std::string FindingKind(const std::string& finding)
{
    const std::pair<const char*, const char*> kinds[] = {
        {"the server survived it", "survived crashes"},
        {"moduleinfo.json", "moduleinfo.json"},
        {"; skipped", "skipped descriptors"},
        {"cut at the server's bound", "cut texts"},
        {" were read", "cut counts"},
        {" times by the factory", "repeated IDs"},
        {"ARA main factory", "ARA"},
        {"the factory lists no class", "no audio module class"}};
    for (const auto& kind : kinds)
    {
        if (finding.find(kind.first) != std::string::npos)
            return kind.second;
    }
    return "other";
}

// A plugin that did not end ok, after its module's path: ">ID (Name):
// crashed in initialize: ...".
std::string PluginProblem(const orvanta::PluginEntry& p)
{
    std::string which, name = p.report.name;
    if (p.shellId)
        which += ">" + orvanta::HexId(*p.shellId);
    if (p.vst3)
    {
        name = p.vst3->name;
        if (!p.vst3->classId.empty())
            which += ">" + p.vst3->classId;
    }
    if (p.clap)
    {
        name = p.clap->name;
        which += ">" + p.clap->id;
    }
    if (!name.empty())
        which += " (" + name + ")";
    return which + ": " + Outcome(p.status) + InPhase(p.phase) + (p.error.empty() ? "" : ": " + p.error);
}

// The modules whose findings the summary shows without --findings; the
// rest are counted.
const size_t MaxFindingModules = 10;

// From this many on, lines that would say the same are one: modules with the
// same problem (a folder of DLLs that are no plugins), and a module's
// plugins that did not end ok. The database and --json keep each.
const size_t FoldFrom = 4;

std::string ProblemLines(const RunTally& tally)
{
    std::map<std::string, std::vector<std::string>> alike; // problem text -> paths, in path order
    for (const auto& entry : tally.problems)
    {
        if (entry.second.status != Status::ok)
            alike[ProblemText(entry.second)].push_back(orvanta::ToUtf8(entry.second.path));
    }
    std::string lines;
    for (const auto& entry : tally.problems)
    {
        const ModuleResult& m = entry.second;
        std::string path = orvanta::ToUtf8(m.path);
        if (m.status != Status::ok)
        {
            std::string problem = ProblemText(m);
            const std::vector<std::string>& paths = alike[problem];
            if (paths.size() < FoldFrom)
                lines += "  " + path + ": " + problem + "\n";
            else if (paths.front() == path)
                lines += "  " + std::to_string(paths.size()) + " modules: " + problem + ": " + paths[0] + ", " +
                         paths[1] + ", " + paths[2] + " and " + std::to_string(paths.size() - 3) + " more\n";
        }
        std::vector<const orvanta::PluginEntry*> plugins;
        std::map<Status, size_t> counts;
        for (const orvanta::PluginEntry& p : m.plugins)
        {
            // A VST 2 module's own plugin shares the module's outcome.
            if (p.status == Status::ok || (!p.vst3 && !p.clap && !p.shellId && m.status != Status::ok))
                continue;
            plugins.push_back(&p);
            counts[p.status]++;
        }
        if (plugins.size() < FoldFrom)
        {
            for (const orvanta::PluginEntry* p : plugins)
                lines += "  " + path + PluginProblem(*p) + "\n";
        }
        else
            lines += "  " + path + ": " + std::to_string(plugins.size()) + " plugins did not end ok (" +
                     Counts(counts) + "); first: " + PluginProblem(*plugins[0]) + "\n";
    }
    return lines;
}

} // namespace

std::string FindingsLine(const std::vector<std::string>& findings)
{
    if (findings.size() == 1)
        return findings[0];
    std::vector<std::pair<std::string, size_t>> kinds; // in order of first use
    for (const std::string& finding : findings)
    {
        std::string kind = FindingKind(finding);
        auto known = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == kind; });
        if (known == kinds.end())
            kinds.emplace_back(kind, 1);
        else
            known->second++;
    }
    std::string text = std::to_string(findings.size()) + " findings (";
    for (size_t i = 0; i < kinds.size(); i++)
        text += (i == 0 ? "" : ", ") + std::to_string(kinds[i].second) + " " + kinds[i].first;
    return text + "); first: " + findings[0];
}

std::string ProblemText(const ModuleResult& m)
{
    std::string text = Outcome(m.status) + InPhase(m.phase);
    switch (m.status)
    {
    case Status::ok:
        return "ok";
    case Status::failed:
        text += ": " + (m.error.empty() ? std::string("no reason given") : m.error);
        // A wrong machine's explanation is the error itself.
        if (!m.loadProblem.empty() && m.loadProblem != m.error)
            text += " (" + m.loadProblem + ")";
        return text;
    case Status::crashed:
        if (m.attempts == 2)
            text += " in both attempts";
        else if (m.attempts > 2)
            text += " in all " + std::to_string(m.attempts) + " attempts";
        return text + CrashText(m);
    case Status::timeout:
        text += " after " + Seconds(m.scanMs);
        if (!m.windows.empty())
            return text + ", waiting on dialog " + orvanta::DialogText(m.windows);
        return text + (m.error.empty() ? "" : ": " + m.error);
    case Status::lost:
        if (!m.error.empty())
            text += ": " + m.error;
        if (m.exitCode)
            text += " (exit code " + std::to_string((uint32_t)*m.exitCode) + ")";
        return text;
    }
    return text;
}

void RunTally::Count(const ModuleResult& result, int sign)
{
    modules[result.status] += sign;
    modulesByFormat[result.format][result.status] += sign;
    std::map<Status, size_t>& byFormat = pluginsByFormat[result.format];
    for (const orvanta::PluginEntry& p : result.plugins)
    {
        plugins[p.status] += sign;
        byFormat[p.status] += sign;
    }
}

void RunTally::Add(const ModuleResult& result)
{
    scanned++;
    Count(result, 1);
    if (orvanta::HasProblem(result))
        problems[orvanta::PathKey(result.path)] = result;
    if (!result.findings.empty())
        findings[orvanta::PathKey(result.path)] = {result.path, result.findings};
}

void RunTally::AddPresets(const ModuleResult& result)
{
    if (!result.presets)
        return;
    presetModules++;
    presetsByFormat[result.format] += result.presets->presets.size();
    presetFindings += result.presets->findings.size();
    for (const orvanta::PresetProvider& provider : result.presets->providers)
    {
        if (provider.status != Status::ok)
            presetProblems.push_back(orvanta::ToUtf8(result.path) + ": provider " + provider.id + " " +
                                     ProviderOutcomeText(provider));
    }
}

void RunTally::Replace(const ModuleResult& before, const ModuleResult& after)
{
    Count(before, -1);
    Count(after, 1);
    problems.erase(orvanta::PathKey(before.path));
    if (orvanta::HasProblem(after))
        problems[orvanta::PathKey(after.path)] = after;
}

namespace {

// "Blocked (never loaded): 2 modules:" and their paths, at most ten.
std::string PathLines(const std::string& head, const std::vector<std::wstring>& paths)
{
    if (paths.empty())
        return "";
    std::string text = head + ": " + std::to_string(paths.size()) + " module" + (paths.size() == 1 ? "" : "s") + "\n";
    for (size_t i = 0; i < paths.size() && i < MaxFindingModules; i++)
        text += "  " + orvanta::ToUtf8(paths[i]) + "\n";
    if (paths.size() > MaxFindingModules)
        text += "  and " + std::to_string(paths.size() - MaxFindingModules) + " more modules\n";
    return text;
}

// "Presets: 12 read for 3 modules (clap 7, vst3 5); 2 findings." and the
// providers that did not end ok.
std::string PresetLines(const RunTally& tally)
{
    if (!tally.presets)
        return "";
    if (tally.presetModules == 0 && tally.presetsNotRead.empty())
        return "Presets: none to read (no module's presets changed).\n";
    size_t all = 0;
    std::string byFormat;
    for (const auto& entry : tally.presetsByFormat)
    {
        all += entry.second;
        byFormat += std::string(byFormat.empty() ? "" : ", ") + orvanta::FormatName(entry.first) + " " +
                    std::to_string(entry.second);
    }
    std::string text = "Presets: " + std::to_string(all) + " read for " + std::to_string(tally.presetModules) +
                       " module" + (tally.presetModules == 1 ? "" : "s");
    if (!byFormat.empty())
        text += " (" + byFormat + ")";
    if (tally.presetFindings)
        text += "; " + std::to_string(tally.presetFindings) + " finding" + (tally.presetFindings == 1 ? "" : "s") +
                " (in the database)";
    text += ".\n";
    if (!tally.presetProblems.empty())
    {
        text += "Preset problems:\n";
        for (const std::string& line : tally.presetProblems)
            text += "  " + line + "\n";
    }
    return text + PathLines("Cancelled; presets not read, as they were", tally.presetsNotRead);
}

// What a cancelled run left, and the blocked modules it passed over.
std::string LeftLines(const RunTally& tally)
{
    std::string text;
    if (tally.cancelled)
        text += PathLines("Cancelled; not scanned, their entries as they were", tally.notScanned);
    if (tally.cancelled && tally.notScanned.empty())
        text += "Cancelled after the last module.\n";
    return text + PathLines("Blocked (never loaded; --unblock scans them again)", tally.blocked);
}

} // namespace

std::string SummaryText(const RunTally& tally)
{
    std::string text;
    std::string database = "Database: " + orvanta::ToUtf8(tally.database) + "\n";
    std::string removed = tally.removed ? std::to_string(tally.removed) + " removed (their files are gone)" : "";
    if (tally.scanned == 0)
    {
        text = "Nothing to scan: " + std::to_string(tally.unchanged) + " module" +
               (tally.unchanged == 1 ? "" : "s") + " unchanged since the last run";
        if (tally.unchangedWithProblems)
            text += " (" + std::to_string(tally.unchangedWithProblems) +
                    " of them crashed, timed out or were lost then; --retry-failed scans those again)";
        text += ".\n";
        if (!removed.empty())
            text += removed + ".\n";
        return text + PresetLines(tally) + LeftLines(tally) + database;
    }

    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", tally.elapsed.count() / 1000.0);
    text += "Scanned " + std::to_string(tally.scanned) + " module" + (tally.scanned == 1 ? "" : "s") + " in " +
            seconds + ": " + Counts(tally.modules) + ".\n";
    text += "Plugins: " + Counts(tally.plugins) + ".\n";
    for (const auto& entry : tally.modulesByFormat)
    {
        if (Total(entry.second) == 0)
            continue;
        auto plugins = tally.pluginsByFormat.find(entry.first);
        text += std::string("  ") + orvanta::FormatName(entry.first) + ": " +
                FormatCounts(entry.second, plugins == tally.pluginsByFormat.end() ? std::map<Status, size_t>()
                                                                                  : plugins->second) +
                ".\n";
    }
    std::string rest;
    if (tally.unchanged)
        rest = std::to_string(tally.unchanged) + " unchanged (not scanned)";
    if (!removed.empty())
        rest += (rest.empty() ? "" : ", ") + removed;
    if (!rest.empty())
        text += rest + ".\n";

    text += PresetLines(tally);
    std::string problems = ProblemLines(tally);
    for (const orvanta::Blame& b : tally.blamed)
    {
        problems += "  " + orvanta::ToUtf8(b.path) +
                    ": crashed later, from a thread it left running (exception " + orvanta::HexId(b.crash.exceptionCode) +
                    (b.crash.dumpPath.empty() ? "" : "; dump " + b.crash.dumpPath) + ")\n";
    }
    if (!problems.empty())
        text += "Problems:\n" + problems;
    if (!tally.findings.empty())
    {
        bool folded = !tally.allFindings &&
                      (tally.findings.size() > MaxFindingModules ||
                       std::any_of(tally.findings.begin(), tally.findings.end(),
                                   [](const auto& m) { return m.second.second.size() > 1; }));
        text += folded ? "Findings (one line a module; --findings lists each):\n" : "Findings:\n";
        size_t shown = 0;
        for (const auto& module : tally.findings)
        {
            std::string path = orvanta::ToUtf8(module.second.first);
            const std::vector<std::string>& findings = module.second.second;
            if (tally.allFindings)
            {
                for (const std::string& finding : findings)
                    text += "  " + path + ": " + finding + "\n";
            }
            else if (shown++ < MaxFindingModules)
                text += "  " + path + ": " + FindingsLine(findings) + "\n";
        }
        if (!tally.allFindings && tally.findings.size() > MaxFindingModules)
            text += "  and " + std::to_string(tally.findings.size() - MaxFindingModules) + " more modules\n";
    }
    return text + LeftLines(tally) + database;
}

} // namespace orvantacli
