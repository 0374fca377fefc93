// One request line: a module path, optionally ">" and a hexadecimal
// sub-plugin ID. Loads (or re-uses) the module, probes it and reports it.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include <stdint.h>

struct CPluginInfo;

// The longest request line the server assembles when a line does not fit
// in one read; longer lines are answered with an error report.
const int MaxRequestBytes = 128 * 1024;

// Writes every log line and the report block of one request. A null
// request (the request loop ran out of memory) gets an error report.
void HandleScanRequest(const wchar_t* request);
// A request line longer than the server assembles: error line and report.
void HandleOversizedRequest();
// Scans target, "path" or "path>ID"; request is the line as received,
// for the log.
bool ScanLibrary(const wchar_t* request, const wchar_t* target, CPluginInfo& info);
// Frees the cached module, with its two info lines; nothing when empty.
void FlushLibraryCache();
// Splits "path>ID": the path before the first ">" and the hexadecimal ID
// after it (the last eight digits count; 0 without one). Null when memory
// runs out.
CSharedString SplitRequest(const wchar_t* request, uint32_t* id);
enum FileVersionResult
{
    VersionFound,
    VersionMissing, // no version resource
    VersionNoMemory
};
FileVersionResult GetFileVersion(const wchar_t* path, VS_FIXEDFILEINFO* record);
// "%i.%i.%i.%i" of the product version, else the file version; null when
// the file has neither. False when memory ran out.
bool FileVersionString(const wchar_t* path, CSharedString& version);
