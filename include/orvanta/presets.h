// Presets: what a host's browser shows beside the plugins, found out of
// process. A CLAP module's presets come from its preset-discovery factory,
// one provider at a time on a scan server; a VST3 plugin's are .vstpreset
// files in the documented preset folders and in its bundle, read without
// loading any plugin code.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvanta {

// A plugin a preset applies to: the ABI it is a plugin of ("clap",
// "vst3", as a CLAP provider declares it, or "vst3" for a .vstpreset) and
// its ID in that ABI's form (a VST3 class ID as 32 upper-case hex digits).
struct PresetPlugin
{
    std::string abi;
    std::string id;
};

// CLAP's location and preset flags.
constexpr uint32_t PresetIsFactory = 1;
constexpr uint32_t PresetIsUser = 2;
constexpr uint32_t PresetIsDemo = 4;
constexpr uint32_t PresetIsFavorite = 8;

// One preset.
struct Preset
{
    std::string name;
    // The file it is in; empty for a preset inside the plugin (a CLAP
    // location of the plugin kind).
    std::wstring file;
    // CLAP: what tells the preset apart within its file or plugin (the
    // provider's load key); empty when the file is the one preset.
    std::string loadKey;
    std::vector<PresetPlugin> plugins;
    // CLAP: the provider that declared it.
    std::string provider;
    std::string soundpack;   // CLAP: the sound pack's ID; empty when none
    uint32_t flags = 0;      // CLAP: PresetIs... bits
    std::vector<std::string> creators;
    std::string description;
    uint64_t created = 0, modified = 0; // seconds since 1970 (UTC); 0 unknown
    std::vector<std::string> features;
    // CLAP: the provider's extra information; VST3: the attributes of the
    // file's metadata (its "Info" chunk), by ID, in file order.
    std::vector<std::pair<std::string, std::string>> extra;
};

// A place a module's presets were looked for: a file or folder, or the
// plugin itself (a CLAP location of the plugin kind).
struct PresetLocation
{
    std::string provider; // CLAP: the provider that declared it; "" for VST3
    std::string name;     // CLAP: as declared; "" for VST3
    uint32_t flags = 0;   // CLAP: PresetIs... bits
    bool inPlugin = false; // CLAP: the presets are inside the plugin; no path
    std::wstring path;
    // What the location looked like when it was read (its files' count and
    // newest last write; "" when it was not there): a later run reads the
    // module's presets again when a stamp changed.
    std::string stamp;
};

} // namespace orvanta
