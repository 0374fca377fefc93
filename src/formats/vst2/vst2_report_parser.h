// The report block of one answer, read back.
#pragma once
#include "orvanta/scan.h"
#include <string>

namespace orvanta {

// Parses the report object: the ">" lines of one answer with their two-byte
// tag removed, joined with their line feeds ("{\n  \"id\": ...\n}\n").
// Every member may be followed by a comma. \uXXXX escapes become UTF-8 (a
// surrogate pair one character, a lone surrogate U+FFFD). Returns false
// with a clear error text ("malformed report: ...", with line and column
// where the syntax breaks) for a malformed block, and leaves *report alone.
bool ParseVst2Report(const std::string& block, Vst2Report* report, std::string* error);

} // namespace orvanta
