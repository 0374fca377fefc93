// Modules an x64 scan server cannot load, for the library's explanations.
// LOAD_MODE picks the variant at build time (see load_fixtures.cmake):
//   1 the DLL the next one imports (built into a folder of its own, never
//     beside the plugin)
//   2 a plugin that imports it, so loading fails with "module not found"
//   3 a plugin built for 32-bit x86 by the i686 compiler
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#ifndef LOAD_MODE
#error LOAD_MODE must be defined
#endif

#if LOAD_MODE == 1
extern "C" __declspec(dllexport) int OrvantaMissingDepValue()
{
    return 42;
}
#else
#if LOAD_MODE == 2
extern "C" __declspec(dllimport) int OrvantaMissingDepValue();
#endif

// Never called: the module does not load. The import must be used, or the
// linker may drop it.
extern "C" __declspec(dllexport) void* VSTPluginMain(void* host)
{
#if LOAD_MODE == 2
    return OrvantaMissingDepValue() == 42 ? host : nullptr;
#else
    return host ? nullptr : nullptr;
#endif
}
#endif
