// CLAP requests: "clap|PATH" (the module request: entry, factory and every
// plugin's descriptor), "clap|PATH>ID" (the plugin request: one instance's
// ports) and "clap|" alone (the free request), phase by phase
// (docs/protocol.md, "CLAP modules").
#pragma once

// True for a line that starts with "clap|".
bool IsClapRequest(const wchar_t* request);
// Writes every log line and the report block of one CLAP request.
void HandleClapRequest(const wchar_t* request);
