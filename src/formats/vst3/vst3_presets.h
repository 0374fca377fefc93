// A VST3 plugin's presets: .vstpreset files in the preset folders of the
// user and the machine and in the plugin's bundle, read without loading any
// plugin code. A .vstpreset is a 48-byte header ("VST3", a version, the
// class ID as 32 hex digits, the offset of its chunk list), the chunks, and
// the list ("List", a count, entries of an ID, an offset and a size).
#pragma once
#include "discovery/location_stamp.h"
#include "orvanta/presets.h"
#include "orvanta/scan.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvanta {

// How much of a preset file is read at most: the chunks in its list, and
// the metadata XML (its "Info" chunk). The state chunks are never read.
constexpr uint32_t Vst3PresetChunkLimit = 1024;
constexpr uint64_t Vst3PresetInfoLimit = 1024 * 1024;

// What one .vstpreset file says about itself.
struct Vst3PresetFile
{
    // False with problem set when the file is no usable preset: "not a
    // VST3 preset (no 'VST3' at its start)", "cut short: 30 bytes, a header
    // needs 48", "chunk list at 4096 lies outside the file (2000 bytes)",
    // "chunk 'Info' at 60 (100 bytes) lies outside the file (120 bytes)",
    // "class ID is not 32 hexadecimal digits", ...
    bool ok = false;
    std::string problem;
    std::string classId; // 32 upper-case hex digits
    uint32_t version = 0;
    bool componentState = false;  // a "Comp" chunk is listed
    bool controllerState = false; // a "Cont" chunk is listed
    // The metadata's <Attr id="..." value="..."/> elements of <MetaInfo>,
    // entities decoded, in file order.
    std::vector<std::pair<std::string, std::string>> attributes;
    // What is wrong with a usable file, one sentence each: metadata that is
    // not well-formed XML (then no attribute is kept) or too large to read.
    std::vector<std::string> findings;
};

// Reads the header, the chunk list and the metadata of the file, as far as
// they are there; anything malformed is the record's problem, never a
// failure.
Vst3PresetFile ReadVst3PresetFile(const std::wstring& path);

// The preset folders of a plugin in search order: VST3 Presets\VENDOR\PLUGIN
// under %USERPROFILE%\Documents, %APPDATA% and %PROGRAMDATA%
// (each of \*?/:<>| in the names as "_"; a folder whose variable is unset
// or empty is left out, and all three for an empty plugin name), then
// BUNDLE\Contents\Resources\Presets when bundle is a folder. Whether they
// exist is not asked.
std::vector<std::wstring> Vst3PresetFolders(const std::wstring& bundle, const std::string& vendor,
                                            const std::string& plugin);

// The presets of a VST3 module, its findings, and the folders looked at.
struct Vst3Presets
{
    std::vector<Preset> presets; // sorted by file path, ignoring letter case
    // One sentence each, a file named by its full path: "PATH: not a VST3
    // preset (no 'VST3' at its start)", "PATH: class ID X is not a class of
    // this module", the walk's bounds reached.
    std::vector<std::string> findings;
    // Every folder looked at, each once, in search order, with its stamp
    // (LocationStamp: "" when it is not there).
    std::vector<StampedLocation> folders;
};

// The preset folders of each audio module class of a scanned module (its
// vendor and name), and the module's bundle; every *.vstpreset under them
// (any letter case) whose class ID is one of the module's classes becomes
// a preset. At most LocationFileLimit files are looked at for the module.
Vst3Presets FindVst3Presets(const ModuleResult& module);

} // namespace orvanta
