// What a VST3 module and its classes are as the scan server reports them:
// the public types of the VST3 format (orvanta/scan.h holds what every
// format shares).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// What a VST3 module's factory says about itself (getFactoryInfo).
struct Vst3Factory
{
    std::string vendor, url, email;
    int32_t flags = 0;
};
// The buses of one instance of an audio module class, as initialised.
struct Vst3Buses
{
    int audioInputBuses = 0, audioOutputBuses = 0; // counts, as bounded by the server
    int eventInputBuses = 0, eventOutputBuses = 0;
    int audioInputs = 0, audioOutputs = 0; // channels of the main audio buses active by default
};
// Where a VST3 class's members were read.
constexpr const char* Vst3FromModuleInfo = "moduleinfo.json"; // the bundle's file, no code loaded
constexpr const char* Vst3FromFactory = "factory";            // the plugin's class info
constexpr const char* Vst3FromInstance = "instance";          // an initialised instance (buses)
// One class of a VST3 module's factory.
struct Vst3Class
{
    // 32 upper-case hex digits: the four 32-bit words that declare the ID,
    // in order (the text form moduleinfo.json uses), not the memory bytes.
    std::string classId;
    std::string category, name, version, sdkVersion;
    // The vendor as a host shows it: the class's own, or the factory's when
    // the class names none (as most plugins built on the SDK do).
    std::string vendor;
    bool vendorFromFactory = false; // vendor is the factory's: the class's is empty
    std::vector<std::string> subCategories; // the "|"-separated text, split
    uint32_t classFlags = 0;
    int32_t cardinality = 0;
    std::optional<Vst3Buses> buses; // an audio module class whose instance was read
    // The controller class the initialised component names
    // (getControllerClassId): 32 upper-case hex digits, "" when it names
    // none; unset when no instance was read. controllerListed: the factory
    // lists a class of that ID (a host can make the editor from it).
    std::optional<std::string> controller;
    bool controllerListed = false;
    std::vector<std::string> sources; // Vst3From... values, in that order
};
constexpr const char* Vst3AudioModuleClass = "Audio Module Class";
constexpr const char* Vst3ControllerClass = "Component Controller Class";
// The class through which a VST3 module offers ARA, paired with the audio
// module class of the same name (or the module's only one).
constexpr const char* Vst3AraMainFactoryClass = "ARA Main Factory Class";

} // namespace orvanta
