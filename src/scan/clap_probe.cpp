#include "clap_probe.h"
#include "clap_report.h"
#include "library_cache.h"
#include "module_request.h"
#include "report_lines.h"
#include "scan_phase.h"
#include "vst3_text.h"
#include "../base/guarded_buffer.h"
#include "../base/log_output.h"
#include "../base/message_pump.h"
#include "../exchange/exchange_text.h"
#include "../host/clap_host.h"
#include <string.h>

using namespace Clap;

namespace {

const wchar_t PhaseLoad[] = L"load";
const wchar_t PhaseEntry[] = L"clap_entry";
const wchar_t PhaseInit[] = L"init";
const wchar_t PhaseGetFactory[] = L"get_factory";
const wchar_t PhaseDescriptors[] = L"descriptors";
const wchar_t PhaseVst3Info[] = L"vst3 info";
const wchar_t PhaseConverters[] = L"converters";
const wchar_t PhaseAraFactory[] = L"ara factory";
const wchar_t PhaseCreatePlugin[] = L"create_plugin";
const wchar_t PhasePluginInit[] = L"plugin init";
const wchar_t PhaseAudioPorts[] = L"audio ports";
const wchar_t PhaseNotePorts[] = L"note ports";
const wchar_t PhaseGui[] = L"gui";
const wchar_t PhaseDestroy[] = L"destroy";
const wchar_t PhaseDeinit[] = L"deinit";

// The port records a plugin fills lie in a guarded region with room to
// spare, as the VST3 infos do: a write past the slack faults at once.
const int PortSlack = 512;
const int PortBufferSize = (int)sizeof(clap_audio_port_info) + PortSlack;
static_assert(sizeof(clap_audio_port_info) >= sizeof(clap_note_port_info), "the port buffer holds both records");

CSharedString Empty() { return CSharedString(L"", 0); }

void CallDestroy(void* plugin)
{
    const clap_plugin* p = static_cast<const clap_plugin*>(plugin);
    p->destroy(p);
}

struct DeinitCall
{
    void (*deinit)();
};
void CallDeinit(void* call) { static_cast<DeinitCall*>(call)->deinit(); }

bool Fail(ClapOpenOutcome& outcome, const wchar_t* phase, const CSharedString& error)
{
    outcome.phase = phase;
    outcome.error = error;
    outcome.noMemory = outcome.noMemory || error.IsNull();
    return false;
}

bool Fail(ClapOpenOutcome& outcome, const wchar_t* phase, const wchar_t* error)
{
    return Fail(outcome, phase, CSharedString(error, lstrlenW(error)));
}

// Calls the entry's deinit when its init returned true (guarded) and frees
// the module.
void FreeClapModule(HMODULE module, ClapModuleState& state)
{
    if (state.initialized && state.entry)
    {
        DeinitCall call = {state.entry->deinit};
        RunGuarded(PhaseDeinit, CallDeinit, &call);
    }
    state.initialized = false;
    FreeLibrary(module);
}

void ReleaseCachedModule(LibraryCache& cache) { FreeClapModule(cache.module, cache.clapState); }

// A module that failed on the way in is freed at once.
void FreeFailedModule(HMODULE module, ClapModuleState& state)
{
    LogInfo(L"Freeing library...\n");
    FreeClapModule(module, state);
}

void TakeVersion(const clap_plugin_entry* entry, ClapOpenOutcome& outcome)
{
    outcome.hasVersion = true;
    outcome.version[0] = entry->version.major;
    outcome.version[1] = entry->version.minor;
    outcome.version[2] = entry->version.revision;
}

// One descriptor, every text copied at once. False when memory ran out.
bool ReadDescriptor(const clap_plugin_descriptor* d, uint32_t index, CClapPlugin& p)
{
    p.index = index;
    if (!d || !d->id || !d->name)
    {
        // A host skips such a plugin; what else it says is not read.
        p.problem = !d ? L"no descriptor" : !d->id ? L"no id" : L"no name";
        return true;
    }
    p.hasVersion = true;
    p.clapVersion[0] = d->version.major;
    p.clapVersion[1] = d->version.minor;
    p.clapVersion[2] = d->version.revision;
    struct
    {
        CSharedString* member;
        const char* text;
    } texts[] = {{&p.id, d->id},
                 {&p.name, d->name},
                 {&p.vendor, d->vendor},
                 {&p.url, d->url},
                 {&p.manualUrl, d->manual_url},
                 {&p.supportUrl, d->support_url},
                 {&p.version, d->version_text},
                 {&p.description, d->description}};
    static_assert(sizeof texts / sizeof texts[0] == CutFeatures, "one text per cut member before features");
    for (int i = 0; i < CutFeatures; i++)
    {
        *texts[i].member = CopyClapText(texts[i].text, &p.cut[i]);
        if (texts[i].member->IsNull())
            return false;
    }
    if (!d->features)
        return true;
    int n = 0;
    for (; n < MaxClapFeatures && d->features[n]; n++)
    {
        p.features[n] = CopyClapText(d->features[n], &p.cut[CutFeatures]);
        if (p.features[n].IsNull())
            return false;
        p.featureCount = n + 1;
    }
    if (n == MaxClapFeatures && d->features[n])
        p.cut[CutFeatures] = true;
    return true;
}

void ReadDescriptors(const clap_plugin_factory* factory, CClapModuleInfo& info)
{
    EnterPhase(PhaseDescriptors);
    info.pluginCount = factory->get_plugin_count(factory);
    uint32_t limit = info.pluginCount < (uint32_t)MaxClapPlugins ? info.pluginCount : (uint32_t)MaxClapPlugins;
    for (uint32_t i = 0; i < limit && !info.noMemory; i++)
    {
        CClapPlugin* p = new CClapPlugin;
        if (!p || !ReadDescriptor(factory->get_plugin_descriptor(factory, i), i, *p) || !info.plugins.Append(p))
        {
            delete p;
            info.noMemory = true;
        }
    }
}

// The VST3 class each listed plugin declares itself to be, when the module
// offers the factory for that.
void ReadVst3Info(const clap_plugin_entry* entry, CClapModuleInfo& info)
{
    EnterPhase(PhaseVst3Info);
    const clap_plugin_factory_as_vst3* factory =
        static_cast<const clap_plugin_factory_as_vst3*>(entry->get_factory(InfoAsVst3FactoryId));
    if (!factory || !factory->get_vst3_info)
        return;
    for (int i = 0; i < info.plugins.Count() && !info.noMemory; i++)
    {
        CClapPlugin& p = *info.plugins.Element(i);
        const clap_plugin_info_as_vst3* record = factory->get_vst3_info(factory, p.index);
        if (!record || !record->componentId || p.problem[0])
            continue;
        wchar_t cid[ClassIdDigits + 1];
        FormatClassId(reinterpret_cast<const char*>(*record->componentId), cid);
        p.vst3.Assign(cid, ClassIdDigits);
        info.noMemory = p.vst3.IsNull();
    }
}

// The state converters' descriptors: which other plugins a plugin reads
// the state of.
void ReadConverters(const clap_plugin_entry* entry, CClapModuleInfo& info)
{
    EnterPhase(PhaseConverters);
    const clap_plugin_state_converter_factory* factory =
        static_cast<const clap_plugin_state_converter_factory*>(entry->get_factory(StateConverterFactoryId));
    if (!factory || !factory->count || !factory->get_descriptor)
        return;
    uint32_t count = factory->count(factory);
    uint32_t limit = count < (uint32_t)MaxClapConverters ? count : (uint32_t)MaxClapConverters;
    for (uint32_t i = 0; i < limit && !info.noMemory; i++)
    {
        const clap_plugin_state_converter_descriptor* d = factory->get_descriptor(factory, i);
        if (!d)
            continue;
        CClapConverter* c = new CClapConverter;
        if (c)
        {
            c->srcAbi = CopyClapText(d->src_plugin_id.abi);
            c->srcId = CopyClapText(d->src_plugin_id.id);
            c->dstAbi = CopyClapText(d->dst_plugin_id.abi);
            c->dstId = CopyClapText(d->dst_plugin_id.id);
        }
        if (!c || c->srcAbi.IsNull() || c->srcId.IsNull() || c->dstAbi.IsNull() || c->dstId.IsNull() ||
            !info.converters.Append(c))
        {
            delete c;
            info.noMemory = true;
        }
    }
}

// The ARA factory's ID, the current one first, when the module offers one.
// The factory is only asked for, never called.
void ReadAraFactory(const clap_plugin_entry* entry, CClapModuleInfo& info)
{
    EnterPhase(PhaseAraFactory);
    const char* id;
    if (entry->get_factory(AraFactoryId))
        id = AraFactoryId;
    else if (entry->get_factory(AraFactoryDraftId))
        id = AraFactoryDraftId;
    else
        return;
    info.araFactory = CopyClapText(id);
    info.noMemory = info.noMemory || info.araFactory.IsNull();
}

void ModuleRequest(const wchar_t* request, const CSharedString& path)
{
    LogInfo(L"Scanning CLAP module: '%s'\n", request);
    CClapModuleInfo info;
    ClapOpenOutcome outcome;
    bool opened = OpenClapModule(path, outcome);
    info.error = outcome.error;
    info.phase = outcome.phase;
    info.hasVersion = outcome.hasVersion;
    memcpy(info.clapVersion, outcome.version, sizeof info.clapVersion);
    info.noMemory = outcome.noMemory;
    if (opened)
    {
        ReadDescriptors(Cache.clapState.factory, info);
        ReadVst3Info(Cache.clapState.entry, info);
        ReadConverters(Cache.clapState.entry, info);
        ReadAraFactory(Cache.clapState.entry, info);
        PumpMessages();
        LogInfo(L"Keeping CLAP library loaded for now...\n");
    }
    LogInfo(L"Finished\n");
    WriteClapModuleReport(info);
}

// Audio ports (note false) or note ports, inputs then outputs.
void ReadPorts(const clap_plugin* plugin, bool note, char* buffer, CClapInstanceInfo& info)
{
    const void* extension = plugin->get_extension(plugin, note ? NotePortsId : AudioPortsId);
    const clap_plugin_audio_ports* audio = static_cast<const clap_plugin_audio_ports*>(extension);
    const clap_plugin_note_ports* notes = static_cast<const clap_plugin_note_ports*>(extension);
    if (!extension || (note ? !notes->count || !notes->get : !audio->count || !audio->get))
        return;
    for (int direction = 1; direction >= 0; direction--)
    {
        bool input = direction == 1;
        uint32_t count = note ? notes->count(plugin, input) : audio->count(plugin, input);
        info.portCounts[note][direction] = count;
        uint32_t limit = count < (uint32_t)MaxClapPorts ? count : (uint32_t)MaxClapPorts;
        bool mainSeen = false;
        for (uint32_t i = 0; i < limit && !info.noMemory; i++)
        {
            memset(buffer, 0, PortBufferSize);
            clap_audio_port_info* audioInfo = reinterpret_cast<clap_audio_port_info*>(buffer);
            clap_note_port_info* noteInfo = reinterpret_cast<clap_note_port_info*>(buffer);
            // A port the plugin cannot describe is counted, not listed.
            if (note ? !notes->get(plugin, i, input, noteInfo) : !audio->get(plugin, i, input, audioInfo))
                continue;
            CClapPort* port = new CClapPort;
            if (port)
            {
                port->note = note;
                port->input = input;
                port->index = i;
                if (note)
                {
                    port->id = noteInfo->id;
                    port->name = TextFromUtf8Array(noteInfo->name, NameSize);
                    port->dialects = noteInfo->supported_dialects;
                    port->preferred = noteInfo->preferred_dialect;
                    port->portType = Empty();
                }
                else
                {
                    port->id = audioInfo->id;
                    port->name = TextFromUtf8Array(audioInfo->name, NameSize);
                    port->channels = audioInfo->channel_count;
                    port->flags = audioInfo->flags;
                    port->portType = CopyClapText(audioInfo->port_type);
                }
            }
            if (!port || port->name.IsNull() || port->portType.IsNull() || !info.ports.Append(port))
            {
                delete port;
                info.noMemory = true;
                break;
            }
            if (!note && !mainSeen && (port->flags & AudioPortIsMain))
            {
                mainSeen = true;
                (input ? info.audioInputs : info.audioOutputs) = port->channels;
            }
        }
    }
}

void InstanceFail(CClapInstanceInfo& info, const wchar_t* phase, const wchar_t* reason)
{
    info.phase = phase;
    info.error = CSharedString(reason, lstrlenW(reason));
    info.noMemory = info.noMemory || info.error.IsNull();
}

void ReadInstance(const clap_plugin_factory* factory, const char* id, CClapInstanceInfo& info)
{
    CGuardedBuffer buffer(PortBufferSize);
    if (!buffer.chars)
    {
        info.noMemory = true;
        return;
    }
    EnterPhase(PhaseCreatePlugin);
    const clap_plugin* plugin = factory->create_plugin(factory, ClapHost(), id);
    if (!plugin)
        return InstanceFail(info, PhaseCreatePlugin, L"create_plugin returned NULL");
    if (!plugin->init || !plugin->destroy || !plugin->get_extension)
    {
        InstanceFail(info, PhaseCreatePlugin, L"the plugin has no init, destroy or get_extension");
        if (plugin->destroy)
            RunGuarded(PhaseDestroy, CallDestroy, const_cast<clap_plugin*>(plugin));
        return;
    }
    EnterPhase(PhasePluginInit);
    if (!plugin->init(plugin))
    {
        InstanceFail(info, PhasePluginInit, L"plugin init returned false");
        RunGuarded(PhaseDestroy, CallDestroy, const_cast<clap_plugin*>(plugin));
        return;
    }
    EnterPhase(PhaseAudioPorts);
    ReadPorts(plugin, false, buffer.chars, info);
    EnterPhase(PhaseNotePorts);
    ReadPorts(plugin, true, buffer.chars, info);
    // Only whether the plugin has a GUI: the extension is never called.
    EnterPhase(PhaseGui);
    info.gui = plugin->get_extension(plugin, GuiId) != nullptr;
    RunGuarded(PhaseDestroy, CallDestroy, const_cast<clap_plugin*>(plugin));
}

void PluginRequest(const wchar_t* request, const CSharedString& path, const wchar_t* idText)
{
    LogInfo(L"Scanning CLAP plugin: '%s'\n", request);
    CClapInstanceInfo info;
    info.id = CSharedString(idText, lstrlenW(idText));
    info.noMemory = info.id.IsNull();
    if (!*idText)
        // Nothing is loaded for a request that names no plugin.
        InstanceFail(info, L"", L"Plugin ID is empty");
    else
    {
        CSharedStringA id = ToUtf8(idText);
        ClapOpenOutcome outcome;
        if (id.IsNull())
            info.noMemory = true;
        else if (OpenClapModule(path, outcome))
        {
            ReadInstance(Cache.clapState.factory, id, info);
            PumpMessages();
            LogInfo(L"Keeping CLAP library loaded for now...\n");
        }
        else
        {
            info.error = outcome.error;
            info.phase = outcome.phase;
        }
        info.noMemory = info.noMemory || outcome.noMemory;
    }
    LogInfo(L"Finished\n");
    WriteClapInstanceReport(info);
}

} // namespace

CSharedString CopyClapText(const char* text, bool* cut)
{
    if (!text)
        return Empty();
    int length = 0;
    while (length <= MaxClapTextBytes && text[length])
        length++;
    bool over = length > MaxClapTextBytes;
    if (cut && over)
        *cut = true;
    return TextFromUtf8Array(text, over ? MaxClapTextBytes : length);
}

bool OpenClapModule(const CSharedString& path, ClapOpenOutcome& outcome)
{
    if (ReuseCachedModule(path, FormatClap))
    {
        TakeVersion(Cache.clapState.entry, outcome);
        return true;
    }

    ClapModuleState state;
    state.pathUtf8 = ToUtf8(path);
    if (state.pathUtf8.IsNull())
    {
        outcome.noMemory = true;
        return false;
    }
    EnterPhase(PhaseLoad);
    CSharedString loadError;
    HMODULE module = LoadModule(path, loadError);
    if (!module)
        return Fail(outcome, PhaseLoad, loadError);
    ActivateBadge();

    EnterPhase(PhaseEntry);
    const clap_plugin_entry* entry = (const clap_plugin_entry*)(void*)GetProcAddress(module, "clap_entry");
    if (!entry)
    {
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseEntry, L"clap_entry not found, not a CLAP module");
    }
    TakeVersion(entry, outcome);
    if (entry->version.major < 1)
    {
        // An entry of a draft ABI is not called at all, not even deinit.
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseEntry,
                    Format(L"clap_entry version %u.%u.%u is not 1.0 or later", outcome.version[0],
                           outcome.version[1], outcome.version[2]));
    }
    if (!entry->init || !entry->deinit || !entry->get_factory)
    {
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseEntry, L"clap_entry has no init, deinit or get_factory");
    }
    state.entry = entry;

    EnterPhase(PhaseInit);
    if (!entry->init(state.pathUtf8))
    {
        // A module that did not initialise is not asked to deinit.
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseInit, L"init returned false");
    }
    state.initialized = true;

    EnterPhase(PhaseGetFactory);
    const clap_plugin_factory* factory =
        static_cast<const clap_plugin_factory*>(entry->get_factory(PluginFactoryId));
    if (!factory || !factory->get_plugin_count || !factory->get_plugin_descriptor || !factory->create_plugin)
    {
        FreeFailedModule(module, state);
        return Fail(outcome, PhaseGetFactory, L"no plugin factory");
    }
    state.factory = factory;

    KeepInCache(module, path, FormatClap, ReleaseCachedModule);
    Cache.clapState = state;
    return true;
}

bool IsClapRequest(const wchar_t* request)
{
    return request && SkipPrefix(request, ExchangeText::ClapRequestPrefix);
}

void HandleClapRequest(const wchar_t* request)
{
    const wchar_t* body = SkipPrefix(request, ExchangeText::ClapRequestPrefix);
    // "clap|" alone: the cached module's deinit is called in a request of
    // its own.
    if (!*body)
        return AnswerFreeRequest("clap");
    const wchar_t* idText = nullptr;
    CSharedString path = SplitModuleRequest(body, &idText);
    if (path.IsNull())
    {
        if (idText)
            WriteClapInstanceOutOfMemory(ScanNoMemoryText);
        else
            WriteClapModuleOutOfMemory(ScanNoMemoryText);
        return;
    }
    if (idText)
        PluginRequest(request, path, idText);
    else
        ModuleRequest(request, path);
}
