// orvanta-scan --block and --unblock: the database's blocklist, edited
// without scanning anything.
#pragma once
#include "options.h"
#include <orvanta/database.h>
#include <string>
#include <vector>

namespace orvantacli {

// One line a module ("Blocked: PATH", "Unblocked: PATH", "Not blocked:
// PATH") on the standard output. The exit code: 0, or 2 for a database that
// cannot be read or written.
int EditBlocklist(const Options& options);

// The lines --list ends with: "Blocked modules:", then "  PATH" with the
// reason and the time it was blocked; "" when none is blocked.
std::string BlockedLines(const std::vector<orvanta::BlockedModule>& blocked);

} // namespace orvantacli
