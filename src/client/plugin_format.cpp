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
    case PluginFormat::clap: return "clap";
    }
    return "vst2";
}

bool ParseFormat(const std::string& text, PluginFormat* format)
{
    for (PluginFormat f : {PluginFormat::vst2, PluginFormat::vst3, PluginFormat::clap})
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
    auto endsWith = [&name](const std::wstring& suffix) {
        return name.size() >= suffix.size() &&
               FoldCase(name.substr(name.size() - suffix.size())) == suffix;
    };
    if (endsWith(L".VST3"))
        return PluginFormat::vst3;
    if (endsWith(L".CLAP"))
        return PluginFormat::clap;
    return PluginFormat::vst2;
}

} // namespace orvanta
