// A plugin entry's ID, name and vendor, whatever its format.
#include "orvanta/scan.h"
#include "orvanta/text.h"

namespace orvanta {

std::string PluginEntry::Id() const
{
    if (vst3)
        return vst3->classId;
    if (clap)
        return clap->id;
    return HexId(report.id); // a sub-plugin's as it reported it
}

const std::string& PluginEntry::Name() const
{
    return vst3 ? vst3->name : clap ? clap->name : report.name;
}

const std::string& PluginEntry::Vendor() const
{
    return vst3 ? vst3->vendor : clap ? clap->vendor : report.vendor;
}

} // namespace orvanta
