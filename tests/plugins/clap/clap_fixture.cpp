// CLAP fixture modules of our own, well-behaved and hostile, built on the
// server's own ABI declarations. CLAP_MODE picks the variant at build time
// (see clap_fixtures.cmake):
//    1 effect: stereo in and out (main), an auxiliary sidechain input; like
//      real framework-built plugins it crashes in get_factory unless init
//      came first and in deinit while an instance is alive, its init fails
//      unless given a path ending in ".clap", and its plugin's init fails
//      unless the host record is the server's (a transcript without an
//      error proves all of it)
//    2 instrument: a note input (CLAP and MIDI, CLAP preferred), stereo out
//    3 suite: a chorus (mono in, two outputs of which the second cannot be
//      described, a MIDI note output), a plugin whose init returns false and
//      one without get_extension
//    4 linked: declares its VST3 class through the as-VST3 factory (the class
//      of the Vst3Effect fixture) and the VST 2 plugin whose state it reads
//      through the state converter factory (SampleEffect, ID 536D4566,
//      written as the signed decimal 1399670118; the factory's second
//      descriptor is null), so one product spans three formats by
//      declaration alone
//    5-8 crash in the entry's init, get_factory, create_plugin, the plugin's
//      init
//    9 hangs in the entry's init; 10 shows a message box in the plugin's init
//      (title "Licence check", text "Please insert your dongle") and goes on
//      once it is closed
//   11 the entry's init returns false
//   12 a plugin count of 1,000,000, the same descriptor for every index; its
//      plugin says 1,000,000 ports of each kind and direction
//   13 null texts: plugin 0 has no id, 1 no name, 2 no vendor, URL or
//      features (otherwise fine), 3 no descriptor
//   14 long texts: a vendor of exactly 4096 bytes, a description of 5000,
//      70 features, a name that is not UTF-8
//   15 an entry of version 0.0.0 (everything in it crashes)
//   16 hangs in deinit
//   17 crashes in the plugin's destroy and in deinit
//   18 get_factory gives no plugin factory
//   19 the entry has no deinit (its init crashes)
//   20 ARA: get_factory gives a record (never called) for the ARA factory
//      "org.ara-audio.ara.factory/2"; its stereo effect plugin's features
//      include "ara:supported", and it answers for the GUI extension with a
//      record that is never called
//   21 ARA draft: offers only the older "org.ara-audio.ara.factory.draft/2";
//      its plugin's features include "ara:required"; no GUI
// The other variants have no GUI.
// Before a crash a variant appends the id of the crashing thread to the
// file named by CRASH_FIXTURE_THREAD_FILE, as the other crash fixtures do.
#include "host/clap_abi.h"
#include "../fixture_crash.h"
#include "host/vst3_abi.h"
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdio.h>
#include <string.h>

#ifndef CLAP_MODE
#error CLAP_MODE must be defined
#endif

#define CLAP_EFFECT 1
#define CLAP_INSTRUMENT 2
#define CLAP_SUITE 3
#define CLAP_LINKED 4
#define CLAP_CRASH_ENTRY_INIT 5
#define CLAP_CRASH_GET_FACTORY 6
#define CLAP_CRASH_CREATE 7
#define CLAP_CRASH_PLUGIN_INIT 8
#define CLAP_HANG_INIT 9
#define CLAP_DIALOG_INIT 10
#define CLAP_INIT_FALSE 11
#define CLAP_MANY_PLUGINS 12
#define CLAP_NULL_TEXTS 13
#define CLAP_LONG_TEXTS 14
#define CLAP_VERSION_ZERO 15
#define CLAP_HANG_DEINIT 16
#define CLAP_CRASH_CLEANUP 17
#define CLAP_NO_FACTORY 18
#define CLAP_NO_DEINIT 19
#define CLAP_ARA 20
#define CLAP_ARA_DRAFT 21

using namespace Clap;

namespace {

using fixture::Crash;

// ------------------------------------------------------------ the plugins

struct AudioPortSpec
{
    bool input;
    clap_id id;
    const char* name;
    uint32_t flags;
    uint32_t channels;
    const char* type;
    bool describable;
};

struct NotePortSpec
{
    bool input;
    clap_id id;
    const char* name;
    uint32_t dialects, preferred;
};

enum Behaviour
{
    Normal,
    RefusesInit,
    NoExtensions // get_extension is null
};

struct PluginSpec
{
    clap_plugin_descriptor desc;
    const AudioPortSpec* audio;
    int audioCount;
    const NotePortSpec* notes;
    int noteCount;
    Behaviour behaviour;
};

const clap_version V122 = {1, 2, 2};
const char Vendor[] = "Zandrel Software";

const char* const EffectFeatures[] = {"audio-effect", "stereo", nullptr};
const AudioPortSpec EffectPorts[] = {
    {true, 0, "Stereo In", AudioPortIsMain, 2, "stereo", true},
    {true, 2, "Sidechain", 0, 2, "stereo", true},
    {false, 1, "Stereo Out", AudioPortIsMain, 2, "stereo", true},
};
const char* const InstrumentFeatures[] = {"instrument", "synthesizer", "stereo", nullptr};
const AudioPortSpec InstrumentAudio[] = {{false, 0, "Stereo Out", AudioPortIsMain, 2, "stereo", true}};
const NotePortSpec InstrumentNotes[] = {
    {true, 0, "Notes", NoteDialectClap | NoteDialectMidi, NoteDialectClap}};
const char* const ChorusFeatures[] = {"audio-effect", "chorus", "mono", nullptr};
const AudioPortSpec ChorusAudio[] = {
    {true, 0, "Mono In", AudioPortIsMain, 1, "mono", true},
    {false, 1, "Wide Out", AudioPortIsMain, 2, nullptr, true},
    {false, 2, "Hidden Out", 0, 2, "stereo", false},
};
const NotePortSpec ChorusNotes[] = {{false, 7, "Tap Out", NoteDialectMidi, NoteDialectMidi}};
const char* const PlainFeatures[] = {"audio-effect", nullptr};
const char* const AraFeatures[] = {"audio-effect", "stereo", "ara:supported", nullptr};
const char* const AraDraftFeatures[] = {"audio-effect", "stereo", "ara:required", nullptr};

#define DESC(id, name, url, version, description, features)                                     \
    {V122, id, name, Vendor, url, "", "", version, description, features}

#if CLAP_MODE == CLAP_INSTRUMENT
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.orvanta-instrument", "Orvanta CLAP Instrument", "https://zandrel.example/instrument",
          "0.9.1", "A test instrument", InstrumentFeatures),
     InstrumentAudio, 1, InstrumentNotes, 1, Normal},
};
#elif CLAP_MODE == CLAP_SUITE
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.suite.chorus", "Suite Chorus", "", "3.0.0", "", ChorusFeatures), ChorusAudio, 3,
     ChorusNotes, 1, Normal},
    {DESC("com.zandrel.suite.refuser", "Suite Refuser", "", "3.0.0", "", PlainFeatures), nullptr, 0, nullptr, 0,
     RefusesInit},
    {DESC("com.zandrel.suite.hollow", "Suite Hollow", "", "3.0.0", "", PlainFeatures), nullptr, 0, nullptr, 0,
     NoExtensions},
};
#elif CLAP_MODE == CLAP_LINKED
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.orvanta-linked", "Orvanta Linked", "", "2.0.0", "Successor of a VST 2 plugin", PlainFeatures),
     EffectPorts, 3, nullptr, 0, Normal},
};
#elif CLAP_MODE == CLAP_ARA
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.orvanta-ara", "Orvanta ARA Effect", "", "1.0.0", "An effect that edits audio", AraFeatures),
     EffectPorts, 3, nullptr, 0, Normal},
};
#elif CLAP_MODE == CLAP_ARA_DRAFT
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.orvanta-ara-draft", "Orvanta ARA Draft Effect", "", "0.9.0", "An effect that edits audio",
          AraDraftFeatures),
     EffectPorts, 3, nullptr, 0, Normal},
};
#elif CLAP_MODE == CLAP_MANY_PLUGINS
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.many", "Many", "", "1.0.0", "", PlainFeatures), nullptr, 0, nullptr, 0, Normal},
};
#elif CLAP_MODE == CLAP_NULL_TEXTS
const PluginSpec Plugins[] = {
    {{V122, nullptr, "No Id", Vendor, "", "", "", "1.0.0", "", PlainFeatures}, nullptr, 0, nullptr, 0, Normal},
    {{V122, "com.zandrel.no-name", nullptr, Vendor, "", "", "", "1.0.0", "", PlainFeatures}, nullptr, 0, nullptr, 0,
     Normal},
    {{V122, "com.zandrel.sparse", "Sparse", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
     EffectPorts, 3, nullptr, 0, Normal},
};
#elif CLAP_MODE == CLAP_LONG_TEXTS
char LongVendor[4097];
char LongDescription[5001];
char FeatureTexts[70][4];
const char* LongFeatures[71];
const PluginSpec Plugins[] = {
    {{{1, 0, 0}, "com.zandrel.long", "Bad\xff\xc3(\xe2\x82\xac", LongVendor, "", "", "", "1.0", LongDescription,
      LongFeatures},
     nullptr, 0, nullptr, 0, Normal},
};
#else
const PluginSpec Plugins[] = {
    {DESC("com.zandrel.orvanta-effect", "Orvanta CLAP Effect", "https://zandrel.example/effect", "1.2.3",
          "A stereo effect", EffectFeatures),
     EffectPorts, 3, nullptr, 0, Normal},
};
#endif

const uint32_t PluginCount = CLAP_MODE == CLAP_MANY_PLUGINS ? 1000000
                             : CLAP_MODE == CLAP_NULL_TEXTS ? 4
                                                            : (uint32_t)(sizeof Plugins / sizeof Plugins[0]);
const uint32_t ManyPorts = 1000000;

struct Instance
{
    clap_plugin plugin;
    const PluginSpec* spec;
    const clap_host* host;
};

bool Initialised = false;
LONG LiveInstances = 0;

const PluginSpec& SpecOf(const clap_plugin* plugin)
{
    return *reinterpret_cast<const Instance*>(plugin)->spec;
}

uint32_t AudioCount(const clap_plugin* plugin, bool isInput)
{
    if (CLAP_MODE == CLAP_MANY_PLUGINS)
        return ManyPorts;
    const PluginSpec& spec = SpecOf(plugin);
    uint32_t n = 0;
    for (int i = 0; i < spec.audioCount; i++)
        n += spec.audio[i].input == isInput;
    return n;
}

const AudioPortSpec* AudioPort(const PluginSpec& spec, uint32_t index, bool isInput)
{
    for (int i = 0; i < spec.audioCount; i++)
        if (spec.audio[i].input == isInput && index-- == 0)
            return &spec.audio[i];
    return nullptr;
}

bool AudioGet(const clap_plugin* plugin, uint32_t index, bool isInput, clap_audio_port_info* info)
{
    if (CLAP_MODE == CLAP_MANY_PLUGINS)
    {
        info->id = index;
        snprintf(info->name, NameSize, "Port %u", index);
        info->flags = AudioPortIsMain;
        info->channel_count = 1;
        info->port_type = "mono";
        info->in_place_pair = 0xFFFFFFFF;
        return true;
    }
    const AudioPortSpec* port = AudioPort(SpecOf(plugin), index, isInput);
    if (!port || !port->describable)
        return false;
    info->id = port->id;
    snprintf(info->name, NameSize, "%s", port->name);
    info->flags = port->flags;
    info->channel_count = port->channels;
    info->port_type = port->type;
    info->in_place_pair = 0xFFFFFFFF;
    return true;
}

uint32_t NoteCount(const clap_plugin* plugin, bool isInput)
{
    if (CLAP_MODE == CLAP_MANY_PLUGINS)
        return ManyPorts;
    const PluginSpec& spec = SpecOf(plugin);
    uint32_t n = 0;
    for (int i = 0; i < spec.noteCount; i++)
        n += spec.notes[i].input == isInput;
    return n;
}

bool NoteGet(const clap_plugin* plugin, uint32_t index, bool isInput, clap_note_port_info* info)
{
    if (CLAP_MODE == CLAP_MANY_PLUGINS)
    {
        info->id = index;
        snprintf(info->name, NameSize, "Notes %u", index);
        info->supported_dialects = NoteDialectMidi;
        info->preferred_dialect = NoteDialectMidi;
        return true;
    }
    const PluginSpec& spec = SpecOf(plugin);
    for (int i = 0; i < spec.noteCount; i++)
        if (spec.notes[i].input == isInput && index-- == 0)
        {
            info->id = spec.notes[i].id;
            snprintf(info->name, NameSize, "%s", spec.notes[i].name);
            info->supported_dialects = spec.notes[i].dialects;
            info->preferred_dialect = spec.notes[i].preferred;
            return true;
        }
    return false;
}

const clap_plugin_audio_ports AudioPorts = {AudioCount, AudioGet};
const clap_plugin_note_ports NotePorts = {NoteCount, NoteGet};

// The GUI extension and the ARA factory of the ARA variants: records a
// host may ask for but a scan never calls (all null).
struct NeverCalled
{
    void (*functions[16])();
};
[[maybe_unused]] const NeverCalled Gui = {};
[[maybe_unused]] const NeverCalled AraFactory = {};

// The host record must be the server's: a complete one that offers nothing.
bool HostIsTheServers(const clap_host* host)
{
    return host && host->version.major == 1 && host->version.minor == 2 && host->version.revision == 2 &&
           !host->host_data && strcmp(host->name, "Orvanta Plugin Scanner") == 0 &&
           strcmp(host->vendor, "Orvanta") == 0 && strcmp(host->url, "") == 0 && host->version_text &&
           host->version_text[0] && host->get_extension && !host->get_extension(host, AudioPortsId) &&
           host->request_restart && host->request_process && host->request_callback;
}

bool PluginInit(const clap_plugin* plugin)
{
    if (CLAP_MODE == CLAP_CRASH_PLUGIN_INIT)
        Crash();
    if (CLAP_MODE == CLAP_DIALOG_INIT)
        MessageBoxW(nullptr, L"Please insert your dongle", L"Licence check", MB_OK);
    const Instance* instance = reinterpret_cast<const Instance*>(plugin);
    if (CLAP_MODE == CLAP_EFFECT && !HostIsTheServers(instance->host))
        return false;
    if (CLAP_MODE == CLAP_EFFECT)
        instance->host->request_callback(instance->host);
    return instance->spec->behaviour != RefusesInit;
}

void PluginDestroy(const clap_plugin* plugin)
{
    InterlockedDecrement(&LiveInstances);
    delete reinterpret_cast<const Instance*>(plugin);
    if (CLAP_MODE == CLAP_CRASH_CLEANUP)
        Crash();
}

const void* PluginExtension(const clap_plugin* plugin, const char* id)
{
    const PluginSpec& spec = SpecOf(plugin);
    bool many = CLAP_MODE == CLAP_MANY_PLUGINS;
    if (strcmp(id, AudioPortsId) == 0 && (spec.audioCount > 0 || many))
        return &AudioPorts;
    if (strcmp(id, NotePortsId) == 0 && (spec.noteCount > 0 || many))
        return &NotePorts;
    if (CLAP_MODE == CLAP_ARA && strcmp(id, GuiId) == 0)
        return &Gui;
    return nullptr;
}

bool Activate(const clap_plugin*, double, uint32_t, uint32_t) { return false; }
void Nothing(const clap_plugin*) {}
bool NoProcessing(const clap_plugin*) { return false; }
int32_t Process(const clap_plugin*, const void*) { return 0; }

// ------------------------------------------------------------ the factory

uint32_t PluginCountOf(const clap_plugin_factory*) { return PluginCount; }

const clap_plugin_descriptor* DescriptorOf(const clap_plugin_factory*, uint32_t index)
{
    if (CLAP_MODE == CLAP_MANY_PLUGINS)
        return index < PluginCount ? &Plugins[0].desc : nullptr;
    return index < sizeof Plugins / sizeof Plugins[0] ? &Plugins[index].desc : nullptr;
}

const clap_plugin* CreatePlugin(const clap_plugin_factory*, const clap_host* host, const char* id)
{
    if (CLAP_MODE == CLAP_CRASH_CREATE)
        Crash();
    for (const PluginSpec& spec : Plugins)
    {
        if (!spec.desc.id || strcmp(spec.desc.id, id) != 0)
            continue;
        Instance* instance = new Instance;
        instance->plugin = {&spec.desc, nullptr,  PluginInit, PluginDestroy,   Activate, Nothing,
                            NoProcessing, Nothing, Nothing,    Process,         PluginExtension, Nothing};
        if (spec.behaviour == NoExtensions)
            instance->plugin.get_extension = nullptr;
        instance->spec = &spec;
        instance->host = host;
        InterlockedIncrement(&LiveInstances);
        return &instance->plugin;
    }
    return nullptr;
}

const clap_plugin_factory Factory = {PluginCountOf, DescriptorOf, CreatePlugin};

// The links the linked variant declares to plugins of other formats.
const Vst3::TUID LinkedVst3Class = VST3_UID(0x01234567, 0x89ABCDEF, 0x01234567, 0x89ABCDEF);
const clap_plugin_info_as_vst3 LinkedVst3Info = {Vendor, reinterpret_cast<const uint8_t(*)[16]>(&LinkedVst3Class),
                                                 "Fx"};
const clap_plugin_info_as_vst3* Vst3InfoOf(const clap_plugin_factory_as_vst3*, uint32_t index)
{
    return index == 0 ? &LinkedVst3Info : nullptr;
}
const clap_plugin_factory_as_vst3 AsVst3Factory = {Vendor, "https://zandrel.example", "", Vst3InfoOf};

const clap_plugin_state_converter_descriptor Converter = {
    V122, {"vst2", "1399670118"}, {"clap", "com.zandrel.orvanta-linked"}, "com.zandrel.from-vst2",
    "From VST 2", Vendor, "1.0.0", ""};
uint32_t ConverterCount(const clap_plugin_state_converter_factory*) { return 2; }
const clap_plugin_state_converter_descriptor* ConverterOf(const clap_plugin_state_converter_factory*,
                                                          uint32_t index)
{
    return index == 0 ? &Converter : nullptr;
}
void* CreateConverter(const clap_plugin_state_converter_factory*, const char*) { return nullptr; }
const clap_plugin_state_converter_factory ConverterFactory = {ConverterCount, ConverterOf, CreateConverter};

// ------------------------------------------------------------ the entry

bool EntryInit(const char* path)
{
    if (CLAP_MODE == CLAP_CRASH_ENTRY_INIT || CLAP_MODE == CLAP_VERSION_ZERO || CLAP_MODE == CLAP_NO_DEINIT)
        Crash();
    if (CLAP_MODE == CLAP_HANG_INIT)
        Sleep(INFINITE);
    if (CLAP_MODE == CLAP_INIT_FALSE)
        return false;
    size_t length = path ? strlen(path) : 0;
    if (CLAP_MODE == CLAP_EFFECT && (length < 5 || strcmp(path + length - 5, ".clap") != 0))
        return false;
#if CLAP_MODE == CLAP_LONG_TEXTS
    memset(LongVendor, 'v', 4096);
    memset(LongDescription, 'd', 5000);
    for (int i = 0; i < 70; i++)
    {
        snprintf(FeatureTexts[i], sizeof FeatureTexts[i], "f%d", i);
        LongFeatures[i] = FeatureTexts[i];
    }
#endif
    Initialised = true;
    return true;
}

void EntryDeinit()
{
    if (CLAP_MODE == CLAP_VERSION_ZERO || CLAP_MODE == CLAP_CRASH_CLEANUP ||
        (CLAP_MODE == CLAP_EFFECT && (!Initialised || LiveInstances != 0)))
        Crash();
    if (CLAP_MODE == CLAP_HANG_DEINIT)
        Sleep(INFINITE);
    Initialised = false;
}

const void* EntryFactory(const char* id)
{
    if (CLAP_MODE == CLAP_CRASH_GET_FACTORY || CLAP_MODE == CLAP_VERSION_ZERO ||
        (CLAP_MODE == CLAP_EFFECT && !Initialised))
        Crash();
    if (strcmp(id, PluginFactoryId) == 0)
        return CLAP_MODE == CLAP_NO_FACTORY ? nullptr : &Factory;
    if (CLAP_MODE == CLAP_LINKED && strcmp(id, InfoAsVst3FactoryId) == 0)
        return &AsVst3Factory;
    if (CLAP_MODE == CLAP_LINKED && strcmp(id, StateConverterFactoryId) == 0)
        return &ConverterFactory;
    if (CLAP_MODE == CLAP_ARA && strcmp(id, AraFactoryId) == 0)
        return &AraFactory;
    if (CLAP_MODE == CLAP_ARA_DRAFT && strcmp(id, AraFactoryDraftId) == 0)
        return &AraFactory;
    return nullptr;
}

} // namespace

extern "C" __declspec(dllexport) const clap_plugin_entry clap_entry = {
    CLAP_MODE == CLAP_VERSION_ZERO ? clap_version{0, 0, 0} : V122, EntryInit,
    CLAP_MODE == CLAP_NO_DEINIT ? nullptr : EntryDeinit, EntryFactory};
