// CLAP requests: "clap|PATH" (the module request: entry, factory and every
// plugin's descriptor), "clap|PATH>ID" (the plugin request: one instance's
// ports) and "clap|" alone (the free request), phase by phase
// (docs/protocol.md, "CLAP modules").
#pragma once
#include "library_cache.h"

// True for a line that starts with "clap|".
bool IsClapRequest(const wchar_t* request);
// Writes every log line and the report block of one CLAP request.
void HandleClapRequest(const wchar_t* request);
// Calls the entry's deinit when its init returned true (guarded) and frees
// the module.
void FreeClapModule(HMODULE module, ClapModuleState& state);
