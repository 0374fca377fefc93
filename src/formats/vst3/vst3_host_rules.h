// What a host derives from a VST3 module's class list as a whole, the same
// way whether it came from a server, from moduleinfo.json or from a database
// written before these rules: the vendor it shows for each class, which
// controllers the module lists, and which classes offer ARA.
#pragma once
#include "orvanta/scan.h"
#include <string>
#include <vector>

namespace orvanta {

// A class that names no vendor is shown with the factory's (as the SDK's
// own host and its moduleinfo.json tool do): vendor set, vendorFromFactory
// true. Classes with a vendor of their own are left alone.
void ApplyFactoryVendor(const std::string& factoryVendor, std::vector<PluginEntry>* classes);
void ApplyFactoryVendor(const std::string& factoryVendor, std::vector<Vst3Class>* classes);

// controllerListed for each class whose instance named a controller: the
// module lists a class of that ID.
void MarkListedControllers(std::vector<PluginEntry>* classes);

// Pairs each class of category "ARA Main Factory Class" with the audio
// module class of the same name, else with the module's only audio module
// class, and sets that class's ara (factoryClass the ARA class's ID). An
// ARA class that pairs with none is a finding, returned.
std::vector<std::string> MarkVst3Ara(std::vector<PluginEntry>* classes);

} // namespace orvanta
