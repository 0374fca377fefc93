// The report at the end of a run: modules and plugins by outcome, in all
// and for each plugin format, each problem with its reason, and where the
// database is.
#pragma once
#include <orvanta/scan.h>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace orvantacli {

// What a run did, kept as counts and problems only, so that a run over
// thousands of modules holds no second copy of their results.
struct RunTally
{
    size_t scanned = 0; // this run's modules
    std::map<orvanta::Status, size_t> modules, plugins; // this run's, by outcome
    // The same counts for each plugin format of this run's modules.
    std::map<orvanta::PluginFormat, std::map<orvanta::Status, size_t>> modulesByFormat, pluginsByFormat;
    std::map<std::wstring, orvanta::ModuleResult> problems; // by path key: sorted by path
    std::vector<orvanta::Blame> blamed; // modules of earlier runs found to have crashed later
    // What this run's modules noticed that is not a problem (a moduleinfo.json
    // that is not true, a crash survived in clean-up), by path key.
    std::map<std::wstring, std::pair<std::wstring, std::vector<std::string>>> findings;
    size_t unchanged = 0;
    size_t unchangedWithProblems = 0; // of those, ones that crashed, timed out or were lost before
    size_t removed = 0;
    std::vector<std::wstring> blocked;    // found but blocked: not loaded
    bool cancelled = false;               // the run was cancelled (Ctrl+C)
    std::vector<std::wstring> notScanned; // planned, but cancelled first
    std::chrono::milliseconds elapsed{0};
    std::wstring database;
    bool allFindings = false; // every finding a line, instead of one line a module
    // --presets: the modules whose presets this run read, their presets by
    // format, their preset findings, and a line for each provider that did
    // not end ok ("PATH: provider ID crashed in metadata").
    bool presets = false;
    size_t presetModules = 0;
    std::map<orvanta::PluginFormat, size_t> presetsByFormat;
    size_t presetFindings = 0;
    std::vector<std::string> presetProblems;
    std::vector<std::wstring> presetsNotRead; // cancelled first

    // A module of this run, and a module of this run whose entry changed
    // later (a thread it left running crashed a later request).
    void Add(const orvanta::ModuleResult& result);
    void Replace(const orvanta::ModuleResult& before, const orvanta::ModuleResult& after);
    // A module whose presets this run read.
    void AddPresets(const orvanta::ModuleResult& result);

private:
    void Count(const orvanta::ModuleResult& result, int sign);
};

// Why one module (or one of its plugins) did not end ok, in one line.
std::string ProblemText(const orvanta::ModuleResult& result);
// A module's findings in one line: "68 findings (66 moduleinfo.json, 2
// survived crashes); first: ...", or the finding itself when it is alone.
std::string FindingsLine(const std::vector<std::string>& findings);
std::string SummaryText(const RunTally& tally);

} // namespace orvantacli
