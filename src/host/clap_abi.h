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

// ------------------------------------------------------ preset discovery

// Seconds since 1970 (UTC); 0 when unknown.
typedef uint64_t clap_timestamp;

// Where a provider's presets are: a file or folder, or inside the plugin.
const uint32_t PresetLocationFile = 0;
const uint32_t PresetLocationPlugin = 1;

// Flags of a location, a sound pack and a preset.
const uint32_t PresetIsFactoryContent = 1 << 0;
const uint32_t PresetIsUserContent = 1 << 1;
const uint32_t PresetIsDemoContent = 1 << 2;
const uint32_t PresetIsFavorite = 1 << 3;

// Handed to get_metadata: the provider tells the presets of one location
// through it, each begin_preset starting the next.
struct clap_preset_discovery_metadata_receiver
{
    void* receiver_data;
    void (*on_error)(const clap_preset_discovery_metadata_receiver* receiver, int32_t osError,
                     const char* errorMessage);
    bool (*begin_preset)(const clap_preset_discovery_metadata_receiver* receiver, const char* name,
                         const char* loadKey);
    void (*add_plugin_id)(const clap_preset_discovery_metadata_receiver* receiver,
                          const clap_universal_plugin_id* pluginId);
    void (*set_soundpack_id)(const clap_preset_discovery_metadata_receiver* receiver, const char* soundpackId);
    void (*set_flags)(const clap_preset_discovery_metadata_receiver* receiver, uint32_t flags);
    void (*add_creator)(const clap_preset_discovery_metadata_receiver* receiver, const char* creator);
    void (*set_description)(const clap_preset_discovery_metadata_receiver* receiver, const char* description);
    void (*set_timestamps)(const clap_preset_discovery_metadata_receiver* receiver, clap_timestamp creationTime,
                           clap_timestamp modificationTime);
    void (*add_feature)(const clap_preset_discovery_metadata_receiver* receiver, const char* feature);
    void (*add_extra_info)(const clap_preset_discovery_metadata_receiver* receiver, const char* key,
                           const char* value);
};

struct clap_preset_discovery_filetype
{
    const char* name;
    const char* description;
    const char* file_extension; // without the dot; empty for any file
};

struct clap_preset_discovery_location
{
    uint32_t flags;
    const char* name;
    uint32_t kind;        // PresetLocationFile or PresetLocationPlugin
    const char* location; // the file or folder for the file kind, else null
};

struct clap_preset_discovery_soundpack
{
    uint32_t flags;
    const char* id;
    const char* name;
    const char* description;
    const char* homepage_url;
    const char* vendor;
    const char* image_path;
    clap_timestamp release_timestamp;
};

struct clap_preset_discovery_provider_descriptor
{
    clap_version version;
    const char* id;
    const char* name;
    const char* vendor;
};

struct clap_preset_discovery_provider
{
    const clap_preset_discovery_provider_descriptor* desc;
    void* provider_data;
    bool (*init)(const clap_preset_discovery_provider* provider);
    void (*destroy)(const clap_preset_discovery_provider* provider);
    bool (*get_metadata)(const clap_preset_discovery_provider* provider, uint32_t locationKind,
                         const char* location, const clap_preset_discovery_metadata_receiver* receiver);
    const void* (*get_extension)(const clap_preset_discovery_provider* provider, const char* extensionId);
};

// The host's side, handed to create: the provider declares through it, in
// its init, what it reads and where.
struct clap_preset_discovery_indexer
{
    clap_version version;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version_text;
    void* indexer_data;
    bool (*declare_filetype)(const clap_preset_discovery_indexer* indexer,
                             const clap_preset_discovery_filetype* filetype);
    bool (*declare_location)(const clap_preset_discovery_indexer* indexer,
                             const clap_preset_discovery_location* location);
    bool (*declare_soundpack)(const clap_preset_discovery_indexer* indexer,
                              const clap_preset_discovery_soundpack* soundpack);
    const void* (*get_extension)(const clap_preset_discovery_indexer* indexer, const char* extensionId);
};

struct clap_preset_discovery_factory
{
    uint32_t (*count)(const clap_preset_discovery_factory* factory);
    const clap_preset_discovery_provider_descriptor* (*get_descriptor)(const clap_preset_discovery_factory* factory,
                                                                       uint32_t index);
    const clap_preset_discovery_provider* (*create)(const clap_preset_discovery_factory* factory,
                                                    const clap_preset_discovery_indexer* indexer,
                                                    const char* providerId);
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
// The preset-discovery factory, and the ID it had before it was final.
const char PresetDiscoveryFactoryId[] = "clap.preset-discovery-factory/2";
const char PresetDiscoveryFactoryDraftId[] = "clap.preset-discovery-factory/draft-2";

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
static_assert(sizeof(clap_preset_discovery_metadata_receiver) == 88, "clap_preset_discovery_metadata_receiver");
static_assert(sizeof(clap_preset_discovery_filetype) == 24, "clap_preset_discovery_filetype");
// Each 32-bit member is padded to 8 before the pointer after it.
static_assert(sizeof(clap_preset_discovery_location) == 32, "clap_preset_discovery_location");
static_assert(sizeof(clap_preset_discovery_soundpack) == 64, "clap_preset_discovery_soundpack");
static_assert(sizeof(clap_preset_discovery_provider_descriptor) == 40, "clap_preset_discovery_provider_descriptor");
static_assert(sizeof(clap_preset_discovery_provider) == 48, "clap_preset_discovery_provider");
static_assert(sizeof(clap_preset_discovery_indexer) == 88, "clap_preset_discovery_indexer");
static_assert(sizeof(clap_preset_discovery_factory) == 24, "clap_preset_discovery_factory");
#else
// 4-byte pointers: no padding anywhere but before a 64-bit member.
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
static_assert(sizeof(clap_preset_discovery_metadata_receiver) == 44, "clap_preset_discovery_metadata_receiver");
static_assert(sizeof(clap_preset_discovery_filetype) == 12, "clap_preset_discovery_filetype");
static_assert(sizeof(clap_preset_discovery_location) == 16, "clap_preset_discovery_location");
// The release timestamp is aligned to 8 even here: 28 bytes, 4 of padding, 8.
static_assert(sizeof(clap_preset_discovery_soundpack) == 40, "clap_preset_discovery_soundpack");
static_assert(sizeof(clap_preset_discovery_provider_descriptor) == 24, "clap_preset_discovery_provider_descriptor");
static_assert(sizeof(clap_preset_discovery_provider) == 24, "clap_preset_discovery_provider");
static_assert(sizeof(clap_preset_discovery_indexer) == 48, "clap_preset_discovery_indexer");
static_assert(sizeof(clap_preset_discovery_factory) == 12, "clap_preset_discovery_factory");
#endif

} // namespace Clap
