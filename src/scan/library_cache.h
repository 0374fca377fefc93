// The one module that stays loaded between requests: a VST 2 shell, so the
// host can scan each of its sub-plugins against the same instance, a VST3
// module, so each of its classes gets a request of its own against the
// same factory, or a CLAP module, likewise for each of its plugins. The
// cache knows no format: each one hands over its module with the function
// that frees it.
#pragma once
#include "../base/compat.h"
#include "../base/shared_string.h"
#include "../host/clap_abi.h"
#include "../host/vst3_abi.h"

// What a loaded VST3 module holds besides its handle.
struct Vst3ModuleState
{
    Vst3::IPluginFactory* factory = nullptr; // our one reference
    Vst3::ExitModuleProc exitDll = nullptr;   // to call before freeing; null when not exported
                                              // or when InitDll failed
    bool comInitialized = false; // CoInitializeEx succeeded before the load
};

// What a loaded CLAP module holds besides its handle.
struct ClapModuleState
{
    const Clap::clap_plugin_entry* entry = nullptr;
    const Clap::clap_plugin_factory* factory = nullptr;
    bool initialized = false; // the entry's init returned true: deinit is owed
    CSharedStringA pathUtf8;  // what init was given, kept while the module is
                              // loaded for a plugin that holds on to it
};

enum ModuleFormat
{
    FormatVst2,
    FormatVst3,
    FormatClap
};

struct LibraryCache;
// Frees the module the cache holds as its format must: the plugin's own
// clean-up calls, then FreeLibrary.
typedef void (*ModuleRelease)(LibraryCache& cache);

struct LibraryCache
{
    HMODULE module = nullptr;
    CSharedString path;
    ModuleFormat format = FormatVst2;
    ModuleRelease release = nullptr; // set with the module, by its format
    Vst3ModuleState vst3State;
    ClapModuleState clapState;
};
extern LibraryCache Cache;

// True when the cache holds the module of that path and format. Paths are
// compared unit by unit: a linguistic comparison would take two different
// files for the same one.
bool CacheHolds(const wchar_t* path, ModuleFormat format);
// Hands a loaded module to the empty cache, with the function that frees
// it; the format's own state is the caller's to set.
void KeepInCache(HMODULE module, const CSharedString& path, ModuleFormat format, ModuleRelease release);
// Frees the cached module through its release function, between the lines
// "Freeing cached library..." and "Freed"; nothing when the cache is empty.
void FlushLibraryCache();
