// Decides whether a loaded module is a VST 2 plugin and asks it who it is
// and what it can do, filling the request's CPluginInfo.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../host/vst2_abi.h"

struct CPluginInfo;

// Size of the text buffer handed to the plugin for its strings; text past
// it is never read.
const int EffectStringSize = 512;
// A shell that never answers 0 is cut off after this many sub-plugin
// queries, or after this many answers in a row that repeat IDs already
// listed, so it can neither hang the server nor exhaust its memory.
const int MaxShellQueries = 4096;
const int MaxRepeatedShellIds = 100;

// True when the plugin was queried to the end; false with info.error set.
bool ProbePlugin(HMODULE module, CPluginInfo& info);
CSharedString GetEffectString(AEffect* effect, int32_t opcode);
CSharedString VersionToString(int32_t value);
