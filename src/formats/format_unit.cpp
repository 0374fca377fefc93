// The formats the library knows, one unit each, and what every unit
// leaves as it is unless its format says otherwise.
#include "formats/format_unit.h"
#include "formats/clap/clap_unit.h"
#include "formats/vst2/vst2_unit.h"
#include "formats/vst3/vst3_unit.h"
#include "orvanta/paths.h"
#include <cwchar>

namespace orvanta {

FormatUnit::FormatUnit(PluginFormat format, const char* name, const wchar_t* extension, bool bundles,
                       int sinceDatabaseFormat)
    : format(format), name(name), extension(extension), bundles(bundles), sinceDatabaseFormat(sinceDatabaseFormat)
{
}

std::wstring FormatUnit::BundleBinary(const std::wstring&) const
{
    return L"";
}

void FormatUnit::CarryOver(ModuleResult*) const {}

bool FormatUnit::ScanPresets(ScanContext&, const ModuleResult&, ModulePresets*) const
{
    return false;
}

const std::vector<const FormatUnit*>& AllFormatUnits()
{
    static const Vst2Unit vst2;
    static const Vst3Unit vst3;
    static const ClapUnit clap;
    static const std::vector<const FormatUnit*> units = {&vst2, &vst3, &clap};
    return units;
}

const FormatUnit& UnitOf(PluginFormat format)
{
    for (const FormatUnit* unit : AllFormatUnits())
    {
        if (unit->format == format)
            return *unit;
    }
    return *AllFormatUnits().front();
}

const FormatUnit* UnitNaming(const std::wstring& name)
{
    for (const FormatUnit* unit : AllFormatUnits())
    {
        size_t n = std::wcslen(unit->extension);
        if (name.size() >= n && FoldCase(name.substr(name.size() - n)) == FoldCase(unit->extension))
            return unit;
    }
    return nullptr;
}

} // namespace orvanta
