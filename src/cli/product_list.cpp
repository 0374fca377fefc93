#include "product_list.h"
#include "blocklist.h"
#include "console_text.h"
#include "database_path.h"
#include <orvanta/database.h>
#include <orvanta/products.h>
#include <windows.h>
#include <map>
#include <set>
#include <utility>

namespace orvantacli {
namespace {

// A plugin as presets name it: its ABI's name and its ID (a VST3 class ID
// in upper case, as the entries write it).
using PluginKey = std::pair<std::string, std::string>;

PluginKey KeyOf(const std::string& abi, std::string id)
{
    if (abi == "vst3")
    {
        for (char& c : id)
            c = (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return {abi, id};
}

// Every preset of the database, by the plugins it applies to: which
// presets (module, index) name each plugin.
std::map<PluginKey, std::set<std::pair<size_t, size_t>>> PresetsByPlugin(const std::vector<orvanta::ModuleRecord>& modules)
{
    std::map<PluginKey, std::set<std::pair<size_t, size_t>>> byPlugin;
    for (size_t m = 0; m < modules.size(); m++)
    {
        const auto& presets = modules[m].result.presets;
        for (size_t p = 0; presets && p < presets->presets.size(); p++)
        {
            for (const orvanta::PresetPlugin& plugin : presets->presets[p].plugins)
                byPlugin[KeyOf(plugin.abi, plugin.id)].insert({m, p});
        }
    }
    return byPlugin;
}

} // namespace

int ListProducts(const Options& options)
{
    const TextStream err(TextStream::err);
    std::string error;
    std::wstring path = DatabasePath(options, &error);
    if (path.empty())
    {
        err.Write("orvanta-scan: " + error + "\n");
        return 2;
    }
    // Listing never creates the file, nor its folder.
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    orvanta::PluginDatabase db;
    if (!db.Open(path, &error))
    {
        err.Write("orvanta-scan: " + error + "\n");
        return 2;
    }
    std::string text;
    std::vector<orvanta::ModuleRecord> modules;
    std::map<PluginKey, std::set<std::pair<size_t, size_t>>> byPlugin;
    if (options.presets)
    {
        modules = db.Modules();
        byPlugin = PresetsByPlugin(modules);
    }
    for (const orvanta::Product& product : db.Products())
    {
        text += orvanta::ProductLine(product);
        if (options.presets)
        {
            // A preset that names two of the product's plugins counts once.
            std::set<std::pair<size_t, size_t>> presets;
            for (const orvanta::ProductMember& member : product.members)
            {
                auto found = byPlugin.find(KeyOf(orvanta::FormatName(member.format), member.id));
                if (found != byPlugin.end())
                    presets.insert(found->second.begin(), found->second.end());
            }
            text += "; " + std::to_string(presets.size()) + (presets.size() == 1 ? " preset" : " presets");
        }
        text += "\n";
    }
    text += BlockedLines(db.Blocked());
    TextStream(TextStream::out).Write(text);
    return 0;
}

} // namespace orvantacli
