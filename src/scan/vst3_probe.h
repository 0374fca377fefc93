// VST3 requests: "vst3|PATH" (the module request: factory and classes) and
// "vst3|PATH>CID" (the class request: one instance's buses), phase by phase
// (docs/protocol.md, "VST3 modules").
#pragma once
#include "library_cache.h"

// True for a line that starts with "vst3|".
bool IsVst3Request(const wchar_t* request);
// Writes every log line and the report block of one VST3 request.
void HandleVst3Request(const wchar_t* request);
// Releases the factory, calls ExitDll, frees the module and ends the
// thread's COM apartment, each plugin call in its guarded phase.
void FreeVst3Module(HMODULE module, Vst3ModuleState& state);
