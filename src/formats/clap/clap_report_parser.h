// The report blocks of the server's CLAP requests, read back: strict JSON,
// one block for a module request, one for a plugin request and one for the
// free request.
#pragma once
#include "orvanta/scan.h"
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// What a module request reported: the entry's version, every descriptor
// listed and the state converters.
struct ClapModuleReport
{
    std::string error, phase; // phase: where it failed, "" when it did not
    std::string clapVersion;  // the entry's, "1.2.2"
    int pluginCount = 0;      // what get_plugin_count returned
    // The ARA factory the module answers ("org.ara-audio.ara.factory/2" or
    // its draft ID), "" when none (or a server that does not ask).
    std::string araFactory;
    struct Plugin
    {
        int index = 0;
        std::string problem; // "no descriptor", "no id", "no name": not a plugin to request
        ClapPlugin info;     // ports and sources empty
        std::string vst3;    // the declared VST3 class ID, 32 upper-case hex digits, or ""
    };
    std::vector<Plugin> plugins; // in the factory's order
    struct Converter
    {
        std::string srcAbi, srcId, dstAbi, dstId;
    };
    std::vector<Converter> converters;
};

// One port of an instance, as the plugin report lists it.
struct ClapPort
{
    std::string kind;      // "audio" or "note"
    std::string direction; // "in" or "out"
    int index = 0;
    uint32_t id = 0;
    std::string name;
    int channels = 0;      // audio
    uint32_t flags = 0;    // audio
    std::string portType;  // audio
    uint32_t dialects = 0, preferred = 0; // note
};

// What a plugin request reported: the ports of one initialised instance.
struct ClapPluginReport
{
    std::string id; // as requested; "" in the out-of-memory answer
    std::string error, phase;
    ClapPorts ports; // counts, main channels and the note ports listed
    // get_extension("clap.gui") answered; unset from a server that does not ask.
    std::optional<bool> gui;
    std::vector<ClapPort> portList;
};

// Each parses the block as ParseVst2Report takes it (the ">:" lines without
// their tag, joined with line feeds). Returns false with "malformed report:
// ..." and leaves *report alone.
bool ParseClapModuleReport(const std::string& block, ClapModuleReport* report, std::string* error);
bool ParseClapPluginReport(const std::string& block, ClapPluginReport* report, std::string* error);

} // namespace orvanta
