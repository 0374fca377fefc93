// One run of orvanta-scan: find the modules, decide what to scan from the
// database, scan one module after another on a server, record each result
// at once, and report.
#pragma once
#include "options.h"

namespace orvantacli {

// The exit code of a run that Ctrl+C cancelled.
constexpr int CancelledExitCode = 3;

// The exit code: 0 every module ok or unchanged, 1 a problem, 2 a usage or
// database error, 3 cancelled.
int RunScan(const Options& options);

} // namespace orvantacli
