// What a request does the same way whatever its format: reading the module
// and the sub-plugin from the request line, re-using the module from the
// cache or loading it, bringing the badge forward, and answering the
// request that frees the cached module. Each format's probe adds its own
// steps around these (vst2_probe, vst3_probe, clap_probe).
#pragma once
#include "library_cache.h"
#include "../base/compat.h"
#include "../base/shared_string.h"

// The rest of the request after prefix (one of ExchangeText's request
// forms), or null when the request does not start with it.
const wchar_t* SkipPrefix(const wchar_t* request, const char* prefix);
// The module's path: the request up to the first sub-plugin separator.
// *subPlugin points past the separator, or is null without one; it is set
// also when the path cannot be made (null, out of memory).
CSharedString SplitModuleRequest(const wchar_t* request, const wchar_t** subPlugin);

// True, with the line "Re-using previous library instance...", when the
// cache holds the module of that path and format; otherwise the cache is
// flushed, whatever it held, and false.
bool ReuseCachedModule(const wchar_t* path, ModuleFormat format);
// The module loaded with its own folder searched first for what it needs;
// null when it cannot be, with error "Failed to load library, err=N" (the
// system's error; null when memory ran out).
HMODULE LoadModule(const wchar_t* path, CSharedString& error);
// After a module is loaded or re-used, before its plugin is asked anything:
// the server's crash filter back in place (a module's start-up code may set
// its own), the badge made the active window and its messages handled.
void ActivateBadge();

// The free request (a request form's prefix alone): the cached module, of
// any format, is freed inside a request of its own, so that a module whose
// clean-up crashes or hangs is caught in its own scan and not in the next
// module's. The answer is the fixed block of that format; it needs no
// memory.
void AnswerFreeRequest(const char* format);
