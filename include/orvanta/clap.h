// What a CLAP plugin is as the scan server reports it: the public types of
// the CLAP format (orvanta/scan.h holds what every format shares).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// One note port of a CLAP plugin's instance.
struct ClapNotePort
{
    uint32_t id = 0;
    std::string name;
    uint32_t dialects = 0;  // bits: 1 CLAP, 2 MIDI, 4 MIDI MPE, 8 MIDI 2.0
    uint32_t preferred = 0; // one of those bits
};
// The ports of an initialised CLAP plugin, as the server read them.
struct ClapPorts
{
    int audioInputPorts = 0, audioOutputPorts = 0; // counts, as bounded by the server
    int audioInputs = 0, audioOutputs = 0;         // channels of each direction's main port
    int noteInputPorts = 0, noteOutputPorts = 0;   // counts, as bounded
    std::vector<ClapNotePort> noteInputs, noteOutputs; // the ports read, in order
};
// Where a CLAP plugin's members were read.
constexpr const char* ClapFromDescriptor = "descriptor"; // the factory's descriptor
constexpr const char* ClapFromInstance = "instance";     // an initialised instance (ports)
// One plugin of a CLAP module's factory.
struct ClapPlugin
{
    std::string id, name, vendor, url, manualUrl, supportUrl, version, description;
    std::vector<std::string> features;
    std::string clapVersion;      // the descriptor's, "1.2.2"
    std::vector<std::string> cut; // members cut at the server's bound ("description", "features")
    std::optional<ClapPorts> ports; // when its instance was read
    // The initialised instance answers get_extension("clap.gui"); unset
    // when no instance was read.
    std::optional<bool> gui;
    std::vector<std::string> sources; // ClapFrom... values, in that order
};

// The feature texts of a CLAP descriptor that declare ARA.
constexpr const char* ClapAraSupportedFeature = "ara:supported";
constexpr const char* ClapAraRequiredFeature = "ara:required";

} // namespace orvanta
