#include "formats/clap/clap_host_rules.h"
#include <algorithm>

namespace orvanta {

void MarkClapAra(const std::string& araFactory, PluginEntry* plugin)
{
    if (!plugin->clap)
        return;
    const std::vector<std::string>& features = plugin->clap->features;
    bool required = std::find(features.begin(), features.end(), ClapAraRequiredFeature) != features.end();
    bool supported = std::find(features.begin(), features.end(), ClapAraSupportedFeature) != features.end();
    if (araFactory.empty() && !required && !supported)
        return;
    AraSupport ara;
    ara.required = required;
    ara.factory = araFactory;
    ara.feature = required || supported;
    plugin->ara = ara;
}

} // namespace orvanta
