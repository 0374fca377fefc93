// The host side of the VST 2 ABI: a fixed, offline host callback that
// answers the plugin's calls and logs every one of them.
#pragma once
#include "vst2_abi.h"

// Sub-plugin a shell module should build; non-zero only while a probe runs.
extern int32_t CurrentShellId;
// Set when the plugin sends audioMasterWantMidi; cleared before each probe.
extern bool Vst2PluginWantsMidi;

intptr_t Vst2HostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                          float opt);
// The ABI name of a host opcode, or null when it has none.
const char* Vst2HostOpcodeName(int32_t opcode);
// 1 when the capability is in the host's list (ASCII case folded), else 0.
intptr_t Vst2HostCanDo(const char* capability);
