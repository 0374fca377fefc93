#include "formats/clap/clap_links.h"
#include "formats/vst3/vst3_report_parser.h"
#include "orvanta/text.h"
#include <algorithm>

namespace orvanta {
namespace {

// A VST 2 ID written as a signed decimal number (as a converter gives it)
// in the 8 upper-case hex digits of the VST 2 entries, two's complement.
bool Vst2IdFromDecimal(const std::string& text, std::string* id)
{
    size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    if (at == text.size() || text.size() - at > 10)
        return false;
    long long value = 0;
    for (size_t i = at; i < text.size(); i++)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    if (at == 1)
        value = -value;
    if (value < INT32_MIN || value > (long long)UINT32_MAX)
        return false;
    *id = HexId((uint32_t)value);
    return true;
}

// A converter's source in the form its format's entries use; false when it
// has none.
bool SourceLink(const ClapModuleReport::Converter& c, FormatLink* link)
{
    link->declaredBy = ClapConverterFactory;
    if (c.srcAbi == "vst2")
    {
        link->format = PluginFormat::vst2;
        return Vst2IdFromDecimal(c.srcId, &link->id);
    }
    if (c.srcAbi == "vst3")
    {
        std::string digits = c.srcId;
        digits.erase(std::remove(digits.begin(), digits.end(), '-'), digits.end());
        link->format = PluginFormat::vst3;
        return ParseClassId(digits, &link->id);
    }
    if (c.srcAbi == "clap")
    {
        link->format = PluginFormat::clap;
        link->id = c.srcId;
        return !c.srcId.empty();
    }
    return false;
}

} // namespace

std::vector<FormatLink> ClapDeclaredLinks(const ClapModuleReport& report, size_t index)
{
    std::vector<FormatLink> links;
    const ClapModuleReport::Plugin& plugin = report.plugins[index];
    if (!plugin.vst3.empty())
        links.push_back(FormatLink{PluginFormat::vst3, plugin.vst3, ClapVst3InfoFactory});
    for (const ClapModuleReport::Converter& c : report.converters)
    {
        FormatLink link;
        if (c.dstAbi != "clap" || c.dstId != plugin.info.id || !SourceLink(c, &link))
            continue;
        // A plugin is not its own predecessor.
        if (link.format == PluginFormat::clap && link.id == plugin.info.id)
            continue;
        bool known = std::any_of(links.begin(), links.end(), [&](const FormatLink& l) {
            return l.format == link.format && l.id == link.id && l.declaredBy == link.declaredBy;
        });
        if (!known)
            links.push_back(std::move(link));
    }
    return links;
}

} // namespace orvanta
