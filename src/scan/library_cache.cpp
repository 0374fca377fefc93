#include "library_cache.h"
#include "../base/log_output.h"
#include <wchar.h>

LibraryCache Cache;

bool CacheHolds(const wchar_t* path, ModuleFormat format)
{
    return Cache.module && Cache.format == format && !Cache.path.IsNull() && wcscmp(Cache.path, path) == 0;
}

void KeepInCache(HMODULE module, const CSharedString& path, ModuleFormat format, ModuleRelease release)
{
    Cache.module = module;
    Cache.path = path;
    Cache.format = format;
    Cache.release = release;
}

void FlushLibraryCache()
{
    if (!Cache.module)
        return;
    LogInfo(L"Freeing cached library...\n");
    Cache.release(Cache);
    Cache = LibraryCache();
    LogInfo(L"Freed\n");
}
