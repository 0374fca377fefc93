// The report at the end of a run: modules and plugins by outcome, each
// problem with its reason, and where the database is.
#pragma once
#include "orvanta_scan.h"
#include <chrono>
#include <string>
#include <vector>

namespace orvantacli {

struct RunTally
{
    std::vector<orvanta::ModuleResult> scanned; // this run's modules, in scan order
    std::vector<orvanta::Blame> blamed;         // earlier modules found to have crashed later
    size_t unchanged = 0;
    size_t unchangedWithProblems = 0; // of those, ones that crashed, timed out or were lost before
    size_t removed = 0;
    std::chrono::milliseconds elapsed{0};
    std::wstring database;
};

// Why one module (or one of its plugins) did not end ok, in one line.
std::string ProblemText(const orvanta::ModuleResult& result);
std::string SummaryText(const RunTally& tally);

} // namespace orvantacli
