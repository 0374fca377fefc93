// The plugin formats: their names, and the format a module's path names.
#include "orvanta/scan.h"
#include "orvanta/paths.h"

namespace orvanta {

const char* FormatName(PluginFormat format)
{
    switch (format)
    {
    case PluginFormat::vst2: return "vst2";
    case PluginFormat::vst3: return "vst3";
    }
    return "vst2";
}

bool ParseFormat(const std::string& text, PluginFormat* format)
{
    for (PluginFormat f : {PluginFormat::vst2, PluginFormat::vst3})
    {
        if (text == FormatName(f))
        {
            *format = f;
            return true;
        }
    }
    return false;
}

PluginFormat FormatOfPath(const std::wstring& path)
{
    std::wstring name = path;
    while (!name.empty() && (name.back() == L'\\' || name.back() == L'/'))
        name.pop_back();
    const std::wstring suffix = L".VST3";
    if (name.size() >= suffix.size() && FoldCase(name.substr(name.size() - suffix.size())) == suffix)
        return PluginFormat::vst3;
    return PluginFormat::vst2;
}

} // namespace orvanta
