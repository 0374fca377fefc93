#include "vst2_probe.h"
#include "library_cache.h"
#include "module_request.h"
#include "seh_guard.h"
#include "vst2_report.h"
#include "../base/guarded_buffer.h"
#include "../base/hex_digits.h"
#include "../base/log_output.h"
#include "../base/memory.h"
#include "../base/message_pump.h"
#include "../crash/crash_dump.h"
#include "../exchange/exchange_text.h"
#include "../host/probe_threads.h"
#include "../host/vst2_host_callback.h"
#include <string.h>

// Plugins are known to write past the ABI's string sizes: the buffers they
// get have room to spare beyond the part that is read. A write past the
// slack meets the guard page behind the buffer and ends in a crash dump.
const int BufferSlack = 512;

static int32_t Dispatch(AEffect* effect, int32_t opcode, void* ptr)
{
    return (int32_t)effect->dispatcher(effect, opcode, 0, 0, ptr, 0.0f);
}

CSharedString GetEffectString(AEffect* effect, int32_t opcode)
{
    CGuardedBuffer buffer(EffectStringSize + BufferSlack);
    if (!buffer.chars)
        return CSharedString();
    buffer.chars[0] = 0;
    effect->dispatcher(effect, opcode, 0, 0, buffer.chars, 0.0f);
    return WidenBytes(buffer.chars, EffectStringSize);
}

CSharedString Vst2VersionToString(int32_t v)
{
    if (v == 0)
        return CSharedString(L"", 0);
    if (v < 10)
        return Format(L"%i.0.0.0", v);
    int a, b, c, d;
    if (v <= 9999)
        a = v / 1000 % 10, b = v / 100 % 10, c = v / 10 % 10, d = v % 10;
    else if (v <= 65535)
        a = v / 10000 % 10, b = v / 1000 % 10, c = v / 100 % 10, d = v / 10 % 10;
    else if (v <= 0x64FFFF)
        a = (v >> 16) & 0xFF, b = (v >> 8) & 0xFF, c = v & 0xFF, d = 0;
    else
        a = v / 10000000, b = v / 100000 % 100, c = v / 1000 % 100, d = v % 1000;
    return Format(L"%i.%i.%i.%i", a, b, c, d);
}

// effCanDo with a writable copy of the text: a plugin may scribble on it.
static int32_t PluginCanDo(AEffect* effect, const char* capability)
{
    char text[64 + BufferSlack];
    strcpy(text, capability);
    return Dispatch(effect, effCanDo, text);
}

// Any answer but -1 (0 included) settles the question. The fallback is read
// only after both queries, since the plugin may ask for MIDI during them.
static bool AnswersCanDo(AEffect* effect, const char* first, const char* second,
                         const bool* fallback)
{
    if (PluginCanDo(effect, first) != -1)
        return true;
    if (PluginCanDo(effect, second) != -1)
        return true;
    return fallback && *fallback;
}

static bool Fail(CVst2PluginInfo& info, const wchar_t* reason)
{
    info.error.Assign(reason, lstrlenW(reason));
    info.noMemory = info.error.IsNull();
    return false;
}

static void EnumerateShells(AEffect* effect, CVst2PluginInfo& info)
{
    // One buffer for all the queries, as the plugin's own to write in.
    // Without it the plugin cannot be asked: the scan answers out of memory.
    CGuardedBuffer guarded(EffectStringSize + 1 + BufferSlack);
    if (!guarded.chars)
    {
        info.noMemory = true;
        return;
    }
    char* buffer = guarded.chars;
    CShellIdSet seenShellIds;
    int repeats = 0;
    for (int query = 0;; query++)
    {
        // The stop is silent: the host's protocol has no line for it, and
        // the report lists what was found.
        if (query == MaxShellQueries || repeats == MaxRepeatedShellIds)
            break;
        buffer[0] = 0;
        buffer[EffectStringSize] = 0;
        int32_t id = Dispatch(effect, effShellGetNextPlugin, buffer);
        if (id == 0)
            break;
        buffer[EffectStringSize] = 0; // whatever the plugin wrote, the text ends here
        {
            CSharedStringA name = EscapeLineBreaks(buffer);
            if (!name.IsNull())
                LogInfo(L"Found shell: %.8X - %S\n", id, name.Chars());
        }
        if (seenShellIds.Lookup(id))
        {
            LogInfo(L"   - duplicate, ignoring\n");
            repeats++;
            continue;
        }
        repeats = 0;
        // Out of memory ends the list: a report with an entry missing would
        // be a wrong one, so the scan answers out of memory instead.
        CShellInfo* shell = seenShellIds.Insert(id, true) ? new CShellInfo : nullptr;
        if (shell)
        {
            shell->id = id;
            shell->name = WidenBytes(buffer, EffectStringSize);
        }
        if (!shell || shell->name.IsNull() || !info.shells.Append(shell))
        {
            delete shell;
            info.noMemory = true;
            break;
        }
    }
}

static void DispatchClose(void* argument)
{
    AEffect* effect = static_cast<AEffect*>(argument);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

bool ProbeVst2Plugin(HMODULE module, CVst2PluginInfo& info)
{
    LogInfo(L"Looking for entry point in module %p\n", (void*)module);
    if (GetProcAddress(module, "JBridgeBootstrap"))
        return Fail(info, L"Module is a jBridge bootstrap, ignoring");
    PluginEntryProc entry = (PluginEntryProc)(void*)GetProcAddress(module, "VSTPluginMain");
    if (entry)
        LogInfo(L"Found VSTPluginMain()\n");
    else
    {
        entry = (PluginEntryProc)(void*)GetProcAddress(module, "main");
        if (!entry)
            return Fail(info, L"Entry point not found, not a VST plugin");
        LogInfo(L"Found main()\n");
    }

    Vst2PluginWantsMidi = false;
    SetUnhandledExceptionFilter(CrashFilter);
    LogInfo(L"Calling entry point...\n");
    BeginProbe();
    AEffect* effect = entry(Vst2HostCallback);
    SetUnhandledExceptionFilter(CrashFilter);
    if (!effect)
    {
        EndProbe();
        return Fail(info, L"Entry point returned NULL");
    }
    if (effect->magic != kEffectMagic)
    {
        EndProbe();
        return Fail(info, L"Bad magic");
    }

    SetUnhandledExceptionFilter(CrashFilter);
    info.synthEdit = FindResourceW(module, MAKEINTRESOURCEW(165), L"SE1") != nullptr;
    info.name = GetEffectString(effect, effGetEffectName);
    info.vendor = GetEffectString(effect, effGetVendorString);
    info.product = GetEffectString(effect, effGetProductString);
    info.id = effect->uniqueID;
    int32_t category = Dispatch(effect, effGetPlugCategory, nullptr);
    info.category = category;
    info.numInputs = effect->numInputs;
    info.numOutputs = effect->numOutputs;
    info.wantsMidi = AnswersCanDo(effect, "receiveVstMidiEvent", "receiveVstEvents", &Vst2PluginWantsMidi);
    info.sendsMidi = AnswersCanDo(effect, "sendVstMidiEvent", "sendVstEvents", nullptr);
    info.audio64 = (effect->flags & effFlagsCanDoubleReplacing) != 0;
    info.hasEditor = (effect->flags & effFlagsHasEditor) != 0;
    info.version = Vst2VersionToString(Dispatch(effect, effGetVendorVersion, nullptr));
    if (info.name.IsNull() || info.vendor.IsNull() || info.product.IsNull() || info.version.IsNull())
        info.noMemory = true;

    if (effect->flags & effFlagsIsSynth)
        info.category = kPlugCategSynth;
    else if (category == kPlugCategUnknown)
        info.category = effect->numInputs == 0 ? kPlugCategSynth : kPlugCategEffect;
    if (info.category == kPlugCategShell)
        EnumerateShells(effect, info);

    LogInfo(L"Dispatching effClose...\n");
    CallGuarded(DispatchClose, effect);
    EndProbe();
    SetUnhandledExceptionFilter(CrashFilter);
    return true;
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

CSharedString SplitVst2Request(const wchar_t* request, uint32_t* id)
{
    const wchar_t* idText = nullptr;
    CSharedString path = SplitModuleRequest(request, &idText);
    *id = idText ? (uint32_t)ParseHexArgument(idText) : 0;
    return path;
}

// A VST 2 module asks nothing of its own before it is freed.
static void ReleaseCachedModule(LibraryCache& cache) { FreeLibrary(cache.module); }

// The module at path, re-used from the cache or loaded; null when it could
// not be loaded, with info.error (or info.noMemory) saying so.
static HMODULE OpenModule(const wchar_t* path, bool* reused, CVst2PluginInfo& info)
{
    // A VST3 or CLAP module of the same path is not re-used: it is freed first.
    *reused = ReuseCachedModule(path, FormatVst2);
    if (*reused)
        return Cache.module;
    LogInfo(L"Loading library...\n");
    HMODULE module = LoadModule(path, info.error);
    if (!module)
        info.noMemory = info.error.IsNull();
    return module;
}

// A shell stays loaded for the requests of its sub-plugins; any other
// module is freed.
static void KeepOrFree(HMODULE module, const CSharedString& path, bool reused, const CVst2PluginInfo& info)
{
    if (info.shells.Count() > 0 || reused)
    {
        LogInfo(L"Keeping shell library loaded for now...\n");
        if (!reused)
            KeepInCache(module, path, FormatVst2, ReleaseCachedModule);
        return;
    }
    LogInfo(L"Freeing library...\n");
    FreeLibrary(module);
}

bool ScanVst2Module(const wchar_t* request, const wchar_t* target, CVst2PluginInfo& info)
{
    LogInfo(L"Scanning plugin: '%s'\n", request);
    uint32_t shellId = 0;
    CSharedString path = SplitVst2Request(target, &shellId);
    // Without the path there is nothing to load: an empty one would load
    // nothing and blame the file with error 126.
    if (path.IsNull())
    {
        info.noMemory = true;
        return false;
    }

    SetUnhandledExceptionFilter(CrashFilter);
    bool reused = false;
    HMODULE module = OpenModule(path, &reused, info);
    if (!module)
        return false;
    CSharedString fileVersion;
    if (!FileVersionString(path, fileVersion))
        info.noMemory = true;
    ActivateBadge();

    CurrentShellId = (int32_t)shellId;
    bool probed = ProbeVst2Plugin(module, info);
    CurrentShellId = 0;

    if (info.version.Length() == 0)
        info.version = fileVersion;
    PumpMessages();
    KeepOrFree(module, path, reused, info);
    LogInfo(L"Finished\n");
    return probed;
}

void HandleVst2Request(const wchar_t* request)
{
    // "vst2|" asks for the same scan with the editor flag in the report: a
    // form of its own, so that a plain request's answer stays as it was.
    const wchar_t* editorForm = SkipPrefix(request, ExchangeText::Vst2RequestPrefix);
    CVst2PluginInfo info;
    bool scanned = ScanVst2Module(request, editorForm ? editorForm : request, info);
    WriteVst2Report(info, !scanned, editorForm != nullptr);
}
