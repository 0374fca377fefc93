// The plugin formats: their names, and the format a module's path names,
// as each format's unit (formats/format_unit.h) gives them.
#include "formats/format_unit.h"
#include "orvanta/scan.h"

namespace orvanta {

const char* FormatName(PluginFormat format)
{
    return UnitOf(format).name;
}

bool ParseFormat(const std::string& text, PluginFormat* format)
{
    for (const FormatUnit* unit : AllFormatUnits())
    {
        if (text == unit->name)
        {
            *format = unit->format;
            return true;
        }
    }
    return false;
}

// A name that no format's extension ends (a file named directly, whatever
// its name) is taken as a VST 2 module.
PluginFormat FormatOfPath(const std::wstring& path)
{
    std::wstring name = path;
    while (!name.empty() && (name.back() == L'\\' || name.back() == L'/'))
        name.pop_back();
    const FormatUnit* unit = UnitNaming(name);
    return unit ? unit->format : PluginFormat::vst2;
}

} // namespace orvanta
