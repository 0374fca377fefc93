#include "scan_request.h"
#include "plugin_probe.h"
#include "scan_report.h"
#include "library_cache.h"
#include "clap_probe.h"
#include "vst3_probe.h"
#include "../base/log_output.h"
#include "../base/hex_digits.h"
#include "../base/memory.h"
#include "../base/message_pump.h"
#include "../crash/crash_dump.h"
#include "../host/host_callback.h"
#include "../splash/splash_window.h"
#include <wchar.h>

LibraryCache Cache;

static const wchar_t Vst2Prefix[] = L"vst2|";
static const int Vst2PrefixLength = 5;

bool CacheHolds(const wchar_t* path, ModuleFormat format)
{
    return Cache.module && Cache.format == format && !Cache.path.IsNull() && wcscmp(Cache.path, path) == 0;
}

void FlushLibraryCache()
{
    if (!Cache.module)
        return;
    LogInfo(L"Freeing cached library...\n");
    if (Cache.format == FormatVst3)
        FreeVst3Module(Cache.module, Cache.vst3State);
    else if (Cache.format == FormatClap)
        FreeClapModule(Cache.module, Cache.clapState);
    else
        FreeLibrary(Cache.module);
    Cache.module = nullptr;
    Cache.path.Release();
    Cache.format = FormatVst2;
    Cache.vst3State = Vst3ModuleState();
    Cache.clapState = ClapModuleState();
    LogInfo(L"Freed\n");
}

CSharedString SplitRequest(const wchar_t* request, uint32_t* id)
{
    *id = 0;
    const wchar_t* mark = request;
    while (*mark && *mark != L'>')
        mark++;
    if (!*mark)
        return CSharedString(request, lstrlenW(request));
    *id = (uint32_t)ParseHexArgument(mark + 1);
    return CSharedString(request, (int)(mark - request));
}

FileVersionResult GetFileVersion(const wchar_t* path, VS_FIXEDFILEINFO* record)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0)
        return VersionMissing;
    void* block = MemAlloc(size);
    if (!block)
        return VersionNoMemory;
    FileVersionResult found = VersionMissing;
    if (GetFileVersionInfoW(path, handle, size, block))
    {
        void* root = nullptr;
        UINT length = 0;
        if (VerQueryValueW(block, L"\\", &root, &length) && root &&
            length >= sizeof(VS_FIXEDFILEINFO))
        {
            *record = *static_cast<VS_FIXEDFILEINFO*>(root);
            found = VersionFound;
        }
    }
    MemFree(block);
    return found;
}

bool FileVersionString(const wchar_t* path, CSharedString& version)
{
    version.Release();
    VS_FIXEDFILEINFO record;
    FileVersionResult result = GetFileVersion(path, &record);
    if (result != VersionFound)
        return result == VersionMissing;
    DWORD ms = record.dwProductVersionMS, ls = record.dwProductVersionLS;
    if (ms == 0 && ls == 0)
        ms = record.dwFileVersionMS, ls = record.dwFileVersionLS;
    if (ms == 0 && ls == 0)
        return true;
    version = Format(L"%i.%i.%i.%i", (int)HIWORD(ms), (int)LOWORD(ms), (int)HIWORD(ls),
                     (int)LOWORD(ls));
    return !version.IsNull();
}

bool ScanLibrary(const wchar_t* request, const wchar_t* target, CPluginInfo& info)
{
    LogInfo(L"Scanning plugin: '%s'\n", request);
    uint32_t shellId = 0;
    CSharedString path = SplitRequest(target, &shellId);
    // Without the path there is nothing to load: an empty one would load
    // nothing and blame the file with error 126.
    if (path.IsNull())
    {
        info.noMemory = true;
        return false;
    }
    const wchar_t* pathText = path.Chars();

    SetUnhandledExceptionFilter(CrashFilter);
    HMODULE module;
    // A VST3 module of the same path is not re-used: it is freed first.
    bool reused = CacheHolds(pathText, FormatVst2);
    if (reused)
    {
        LogInfo(L"Re-using previous library instance...\n");
        module = Cache.module;
    }
    else
    {
        FlushLibraryCache();
        LogInfo(L"Loading library...\n");
        module = LoadLibraryExW(pathText, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module)
        {
            info.error = Format(L"Failed to load library, err=%i", (int)GetLastError());
            info.noMemory = info.error.IsNull();
            return false;
        }
    }
    CSharedString fileVersion;
    if (!FileVersionString(pathText, fileVersion))
        info.noMemory = true;
    SetUnhandledExceptionFilter(CrashFilter);
    SetActiveWindow(SplashWindow);
    PumpMessages();

    CurrentShellId = (int32_t)shellId;
    bool probed = ProbePlugin(module, info);
    CurrentShellId = 0;

    if (info.version.Length() == 0)
        info.version = fileVersion;
    PumpMessages();

    if (info.shells.Count() > 0 || reused)
    {
        LogInfo(L"Keeping shell library loaded for now...\n");
        Cache.module = module;
        if (!reused)
        {
            Cache.path = path;
            Cache.format = FormatVst2;
        }
    }
    else
    {
        LogInfo(L"Freeing library...\n");
        FreeLibrary(module);
    }
    LogInfo(L"Finished\n");
    return probed;
}

void HandleScanRequest(const wchar_t* request)
{
    if (!request)
    {
        // The request line could not be made (out of memory): nothing to
        // read, but the host still gets its one report for the line.
        WriteOutOfMemoryReport(RequestNoMemoryText);
        return;
    }
    if (IsVst3Request(request))
    {
        HandleVst3Request(request);
        return;
    }
    if (IsClapRequest(request))
    {
        HandleClapRequest(request);
        return;
    }
    // "vst2|" asks for the same scan with the editor flag in the report: a
    // form of its own, so that a plain request's answer stays as it was.
    bool editorForm = wcsncmp(request, Vst2Prefix, Vst2PrefixLength) == 0;
    CPluginInfo info;
    bool scanned = ScanLibrary(request, editorForm ? request + Vst2PrefixLength : request, info);
    WriteReport(info, !scanned, editorForm);
}

void HandleOversizedRequest()
{
    CPluginInfo info;
    info.error = Format(L"Request line longer than %i bytes, not scanned", MaxRequestBytes);
    if (info.error.IsNull())
        WriteOutOfMemoryReport(ReportNoMemoryText);
    else
        WriteReport(info, true);
}
