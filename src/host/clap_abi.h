// Host-side declarations of the CLAP module ABI, written from its published
// facts. It is plain C: records of function pointers and texts handed over
// by pointer (UTF-8, owned by the plugin), with natural alignment. Every
// function is __cdecl, the default on 32-bit Windows (x64 has one calling
// convention). The record sizes are checked below for x64 and x86.
#pragma once
#include <stdint.h>

namespace Clap {

typedef uint32_t clap_id;

struct clap_version
{
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
};

struct clap_plugin_entry
{
    clap_version version;
    bool (*init)(const char* pluginPath);
    void (*deinit)();
    const void* (*get_factory)(const char* factoryId);
};

struct clap_plugin_descriptor
{
    clap_version version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version_text;
    const char* description;
    const char* const* features; // ends with a null pointer
};

struct clap_host
{
    clap_version version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version_text;
    const void* (*get_extension)(const clap_host* host, const char* extensionId);
    void (*request_restart)(const clap_host* host);
    void (*request_process)(const clap_host* host);
    void (*request_callback)(const clap_host* host);
};

struct clap_plugin
{
    const clap_plugin_descriptor* desc;
    void* plugin_data;
    bool (*init)(const clap_plugin* plugin);
    void (*destroy)(const clap_plugin* plugin);
    bool (*activate)(const clap_plugin* plugin, double sampleRate, uint32_t minFrames, uint32_t maxFrames);
    void (*deactivate)(const clap_plugin* plugin);
    bool (*start_processing)(const clap_plugin* plugin);
    void (*stop_processing)(const clap_plugin* plugin);
    void (*reset)(const clap_plugin* plugin);
    int32_t (*process)(const clap_plugin* plugin, const void* process);
    const void* (*get_extension)(const clap_plugin* plugin, const char* extensionId);
    void (*on_main_thread)(const clap_plugin* plugin);
};

struct clap_plugin_factory
{
    uint32_t (*get_plugin_count)(const clap_plugin_factory* factory);
    const clap_plugin_descriptor* (*get_plugin_descriptor)(const clap_plugin_factory* factory, uint32_t index);
    const clap_plugin* (*create_plugin)(const clap_plugin_factory* factory, const clap_host* host,
                                        const char* pluginId);
};

// ------------------------------------------------------------------ ports

const int NameSize = 256;

struct clap_audio_port_info
{
    clap_id id;
    char name[NameSize];
    uint32_t flags;
    uint32_t channel_count;
    const char* port_type;
    clap_id in_place_pair;
};

const uint32_t AudioPortIsMain = 1 << 0;

struct clap_plugin_audio_ports
{
    uint32_t (*count)(const clap_plugin* plugin, bool isInput);
    bool (*get)(const clap_plugin* plugin, uint32_t index, bool isInput, clap_audio_port_info* info);
};

struct clap_note_port_info
{
    clap_id id;
    uint32_t supported_dialects;
    uint32_t preferred_dialect;
    char name[NameSize];
};

// Note dialect bits.
const uint32_t NoteDialectClap = 1 << 0;
const uint32_t NoteDialectMidi = 1 << 1;
const uint32_t NoteDialectMidiMpe = 1 << 2;
const uint32_t NoteDialectMidi2 = 1 << 3;

struct clap_plugin_note_ports
{
    uint32_t (*count)(const clap_plugin* plugin, bool isInput);
    bool (*get)(const clap_plugin* plugin, uint32_t index, bool isInput, clap_note_port_info* info);
};

// ------------------------------------- links to another format's plugins

struct clap_universal_plugin_id
{
    const char* abi; // "clap", "vst2", "vst3", ...
    const char* id;
};

struct clap_plugin_state_converter_descriptor
{
    clap_version version;
    clap_universal_plugin_id src_plugin_id;
    clap_universal_plugin_id dst_plugin_id;
    const char* id;
    const char* name;
    const char* vendor;
    const char* version_text;
    const char* description;
};

struct clap_plugin_state_converter_factory
{
    uint32_t (*count)(const clap_plugin_state_converter_factory* factory);
    const clap_plugin_state_converter_descriptor* (*get_descriptor)(
        const clap_plugin_state_converter_factory* factory, uint32_t index);
    void* (*create)(const clap_plugin_state_converter_factory* factory, const char* converterId);
};

struct clap_plugin_info_as_vst3
{
    const char* vendor;
    const uint8_t (*componentId)[16]; // a VST3 class ID in its Windows memory layout
    const char* features;
};

struct clap_plugin_factory_as_vst3
{
    const char* vendor;
    const char* vendor_url;
    const char* email_contact;
    const clap_plugin_info_as_vst3* (*get_vst3_info)(const clap_plugin_factory_as_vst3* factory, uint32_t index);
};

// ----------------------------------------------------------- identifiers

const char PluginFactoryId[] = "clap.plugin-factory";
const char InfoAsVst3FactoryId[] = "clap.plugin-factory-info-as-vst3.draft0";
const char StateConverterFactoryId[] = "clap.plugin-state-converter-factory/1";
const char AudioPortsId[] = "clap.audio-ports";
const char NotePortsId[] = "clap.note-ports";
const char GuiId[] = "clap.gui";
// The factory through which a module offers ARA, and its older draft ID.
const char AraFactoryId[] = "org.ara-audio.ara.factory/2";
const char AraFactoryDraftId[] = "org.ara-audio.ara.factory.draft/2";

#if defined(_WIN64)
static_assert(sizeof(clap_version) == 12, "clap_version");
static_assert(sizeof(clap_plugin_entry) == 40, "clap_plugin_entry");
static_assert(sizeof(clap_plugin_factory) == 24, "clap_plugin_factory");
static_assert(sizeof(clap_plugin_descriptor) == 88, "clap_plugin_descriptor");
static_assert(sizeof(clap_host) == 88, "clap_host");
static_assert(sizeof(clap_plugin) == 96, "clap_plugin");
static_assert(sizeof(clap_plugin_audio_ports) == 16, "clap_plugin_audio_ports");
static_assert(sizeof(clap_audio_port_info) == 288, "clap_audio_port_info");
static_assert(sizeof(clap_plugin_note_ports) == 16, "clap_plugin_note_ports");
static_assert(sizeof(clap_note_port_info) == 268, "clap_note_port_info");
static_assert(sizeof(clap_universal_plugin_id) == 16, "clap_universal_plugin_id");
// 12 bytes of version, 4 of padding, two IDs and five texts.
static_assert(sizeof(clap_plugin_state_converter_descriptor) == 88, "clap_plugin_state_converter_descriptor");
static_assert(sizeof(clap_plugin_state_converter_factory) == 24, "clap_plugin_state_converter_factory");
static_assert(sizeof(clap_plugin_factory_as_vst3) == 32, "clap_plugin_factory_as_vst3");
static_assert(sizeof(clap_plugin_info_as_vst3) == 24, "clap_plugin_info_as_vst3");
#else
// 4-byte pointers: no padding anywhere.
static_assert(sizeof(clap_version) == 12, "clap_version");
static_assert(sizeof(clap_plugin_entry) == 24, "clap_plugin_entry");
static_assert(sizeof(clap_plugin_factory) == 12, "clap_plugin_factory");
static_assert(sizeof(clap_plugin_descriptor) == 48, "clap_plugin_descriptor");
static_assert(sizeof(clap_host) == 48, "clap_host");
static_assert(sizeof(clap_plugin) == 48, "clap_plugin");
static_assert(sizeof(clap_plugin_audio_ports) == 8, "clap_plugin_audio_ports");
static_assert(sizeof(clap_audio_port_info) == 276, "clap_audio_port_info");
static_assert(sizeof(clap_plugin_note_ports) == 8, "clap_plugin_note_ports");
static_assert(sizeof(clap_note_port_info) == 268, "clap_note_port_info");
static_assert(sizeof(clap_universal_plugin_id) == 8, "clap_universal_plugin_id");
static_assert(sizeof(clap_plugin_state_converter_descriptor) == 48, "clap_plugin_state_converter_descriptor");
static_assert(sizeof(clap_plugin_state_converter_factory) == 12, "clap_plugin_state_converter_factory");
static_assert(sizeof(clap_plugin_factory_as_vst3) == 16, "clap_plugin_factory_as_vst3");
static_assert(sizeof(clap_plugin_info_as_vst3) == 12, "clap_plugin_info_as_vst3");
#endif

} // namespace Clap
