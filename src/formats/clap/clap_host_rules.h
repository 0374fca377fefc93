// What a host derives from a CLAP plugin's descriptor and its module's
// factories, the same way whether it came from a server or from a database
// written before these rules.
#pragma once
#include "orvanta/scan.h"
#include <string>

namespace orvanta {

// A CLAP plugin offers ARA when its module answers an ARA factory
// (araFactory, "" when none) or its features name "ara:supported" or
// "ara:required" (required then).
void MarkClapAra(const std::string& araFactory, PluginEntry* plugin);

} // namespace orvanta
