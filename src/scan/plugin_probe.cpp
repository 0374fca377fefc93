#include "plugin_probe.h"
#include "scan_report.h"
#include "seh_guard.h"
#include "../base/guarded_buffer.h"
#include "../base/log_output.h"
#include "../crash/crash_dump.h"
#include "../host/host_callback.h"
#include "../host/probe_threads.h"
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

CSharedString VersionToString(int32_t v)
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

static bool Fail(CPluginInfo& info, const wchar_t* reason)
{
    info.error.Assign(reason, lstrlenW(reason));
    info.noMemory = info.error.IsNull();
    return false;
}

static void EnumerateShells(AEffect* effect, CPluginInfo& info)
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

bool ProbePlugin(HMODULE module, CPluginInfo& info)
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

    PluginWantsMidi = false;
    SetUnhandledExceptionFilter(CrashFilter);
    LogInfo(L"Calling entry point...\n");
    BeginProbe();
    AEffect* effect = entry(HostCallback);
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
    info.wantsMidi = AnswersCanDo(effect, "receiveVstMidiEvent", "receiveVstEvents", &PluginWantsMidi);
    info.sendsMidi = AnswersCanDo(effect, "sendVstMidiEvent", "sendVstEvents", nullptr);
    info.audio64 = (effect->flags & effFlagsCanDoubleReplacing) != 0;
    info.hasEditor = (effect->flags & effFlagsHasEditor) != 0;
    info.version = VersionToString(Dispatch(effect, effGetVendorVersion, nullptr));
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
