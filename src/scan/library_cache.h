// The one module that stays loaded between requests: a VST 2 shell, so the
// host can scan each of its sub-plugins against the same instance, or a
// VST3 module, so each of its classes gets a request of its own against the
// same factory.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../host/vst3_abi.h"

// What a loaded VST3 module holds besides its handle.
struct Vst3ModuleState
{
    Vst3::IPluginFactory* factory = nullptr; // our one reference
    Vst3::ExitModuleProc exitDll = nullptr;   // to call before freeing; null when not exported
                                              // or when InitDll failed
    bool comInitialized = false; // CoInitializeEx succeeded before the load
};

struct LibraryCache
{
    HMODULE module = nullptr;
    CSharedString path;
    bool vst3 = false;
    Vst3ModuleState vst3State;
};
extern LibraryCache Cache;

// True when the cache holds the module of that path and format. Paths are
// compared unit by unit: a linguistic comparison would take two different
// files for the same one.
bool CacheHolds(const wchar_t* path, bool vst3);
