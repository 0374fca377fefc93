// What a VST 2 plugin is as the scan server reports it: the public types of
// the VST 2 format (orvanta/scan.h holds what every format shares).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// One sub-plugin listed by a shell module's report.
struct ShellEntry
{
    uint32_t id = 0;
    std::string name;
};

// What the server reported about one VST 2 plugin (the other formats'
// plugins are Vst3Class and ClapPlugin below).
struct Vst2Report
{
    uint32_t id = 0;
    std::string name, vendor, product, version, error;
    int numInputs = 0, numOutputs = 0;
    bool wantsMidi = false, sendsMidi = false;
    std::string platform;
    bool audio64 = false;
    int category = 0;
    bool synthEdit = false;
    // effFlagsHasEditor (bit 0 of AEffect.flags): the plugin has an editor
    // window. Unknown in reports of the plain request form and in entries
    // carried over from databases before format 4.
    std::optional<bool> hasEditor;
    std::vector<ShellEntry> shells; // only for a shell module, in report order
};
// The name this record had when VST 2 was the only format.
using PluginReport = Vst2Report;

} // namespace orvanta
