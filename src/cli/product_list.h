// orvanta-scan --list: the database's products, one a line, without
// scanning anything.
#pragma once
#include "options.h"

namespace orvantacli {

// The exit code: 0 (also for a database that does not exist yet: nothing
// to list), 2 for a database that cannot be read.
int ListProducts(const Options& options);

} // namespace orvantacli
