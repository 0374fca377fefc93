// VST 2 requests: a plain "PATH" or "PATH>ID" line (ID a shell's
// sub-plugin, hexadecimal), or the same after "vst2|" for a report that
// also says whether the plugin has an editor. Loads (or re-uses) the
// module, decides whether it is a VST 2 plugin and asks it who it is and
// what it can do, filling the request's CVst2PluginInfo.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../host/vst2_abi.h"

struct CVst2PluginInfo;

// Size of the text buffer handed to the plugin for its strings; text past
// it is never read.
const int EffectStringSize = 512;
// A shell that never answers 0 is cut off after this many sub-plugin
// queries, or after this many answers in a row that repeat IDs already
// listed, so it can neither hang the server nor exhaust its memory.
const int MaxShellQueries = 4096;
const int MaxRepeatedShellIds = 100;

// Writes every log line and the report block of one VST 2 request, in
// either form.
void HandleVst2Request(const wchar_t* request);
// Scans target, "path" or "path>ID"; request is the line as received,
// for the log.
bool ScanVst2Module(const wchar_t* request, const wchar_t* target, CVst2PluginInfo& info);
// Splits "path>ID": the path before the first ">" and the hexadecimal ID
// after it (the last eight digits count; 0 without one). Null when memory
// runs out.
CSharedString SplitVst2Request(const wchar_t* request, uint32_t* id);

// True when the plugin was queried to the end; false with info.error set.
bool ProbeVst2Plugin(HMODULE module, CVst2PluginInfo& info);
CSharedString GetEffectString(AEffect* effect, int32_t opcode);
// The plugin's vendor version as four numbers, read by the range it falls
// in; empty for 0.
CSharedString Vst2VersionToString(int32_t value);

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
