// The report blocks of the server's CLAP preset requests, read back: the
// provider list of a module, and what one provider declared and gave
// (docs/protocol.md, "CLAP presets").
#pragma once
#include "orvanta/presets.h"
#include <string>
#include <vector>

namespace orvanta {

// A module's preset-discovery factory and its providers.
struct ClapProviderList
{
    std::string error, phase;
    // The ID the factory was found under; "" when the module has none.
    std::string factory;
    int providerCount = 0; // as the factory said
    struct Provider
    {
        int index = 0;
        std::string problem; // "no descriptor", "no id", "no name": not a provider to request
        std::string id, name, vendor, clapVersion;
    };
    std::vector<Provider> providers;
};

// One provider's request: what its init declared, the presets its
// get_metadata calls gave, the errors it reported.
struct ClapProviderReport
{
    std::string provider; // as requested; "" in the out-of-memory answer
    std::string error, phase;
    struct FileType
    {
        std::string name, description, extension;
    };
    std::vector<FileType> fileTypes;
    struct Location
    {
        uint32_t flags = 0;
        std::string name;
        bool inPlugin = false;
        std::string location; // UTF-8; "" for the plugin kind
    };
    std::vector<Location> locations;
    struct Soundpack
    {
        uint32_t flags = 0;
        std::string id, name, description, homepage, vendor, image;
        uint64_t released = 0;
    };
    std::vector<Soundpack> soundpacks;
    int presetCount = 0; // every begin_preset, also beyond the list's bound
    struct Item
    {
        bool inPlugin = false;
        std::string location; // the file, UTF-8; "" for the plugin kind
        Preset preset;        // file, provider left empty
        std::vector<std::string> cut;
    };
    std::vector<Item> presets;
    struct Error
    {
        std::string location;
        long long status = 0;
        std::string message;
    };
    std::vector<Error> errors;
    std::vector<std::string> cut;
};

// Each parses the block as ParseVst2Report takes it (the ">:" lines without
// their tag, joined with line feeds). Returns false with "malformed report:
// ..." and leaves *report alone.
bool ParseClapProviderList(const std::string& block, ClapProviderList* report, std::string* error);
bool ParseClapProviderReport(const std::string& block, ClapProviderReport* report, std::string* error);

} // namespace orvanta
