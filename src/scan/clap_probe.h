// CLAP requests: "clap|PATH" (the module request: entry, factory and every
// plugin's descriptor), "clap|PATH>ID" (the plugin request: one instance's
// ports) and "clap|" alone (the free request), phase by phase
// (docs/protocol.md, "CLAP modules").
#pragma once
#include "../base/shared_string.h"
#include <stdint.h>

// True for a line that starts with "clap|".
bool IsClapRequest(const wchar_t* request);
// Writes every log line and the report block of one CLAP request.
void HandleClapRequest(const wchar_t* request);

// How opening a module went, for a request's report.
struct ClapOpenOutcome
{
    CSharedString error;
    const wchar_t* phase = L"";
    bool hasVersion = false;
    uint32_t version[3] = {0, 0, 0};
    bool noMemory = false;
};
// Makes the cache hold the CLAP module at path: the one loaded before, or a
// fresh one (phases load, clap_entry, init, get_factory). False, with the
// error and its phase, when it cannot; a module that failed is freed.
bool OpenClapModule(const CSharedString& path, ClapOpenOutcome& outcome);

// A text the plugin owns, copied at once: null is empty, reading stops at
// the terminator or after MaxClapTextBytes (*cut set then; one byte more is
// read to know), and the bytes are taken as UTF-8. Null when memory runs
// out.
CSharedString CopyClapText(const char* text, bool* cut = nullptr);
