// One plugin across its formats: the plugin entries joined by what they
// declare, then by vendor and name, with a union-find over all of them (a
// database holds thousands, and is grouped again on every write).
#include "linked_products.h"
#include "orvanta/database.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace orvanta {
namespace {

// A VST 2 plugin's category that makes it a shell.
const int ShellCategory = 10;

// clap, vst3, vst2: the order of a product's formats and members.
int Rank(PluginFormat format)
{
    return format == PluginFormat::clap ? 0 : format == PluginFormat::vst3 ? 1 : 2;
}

std::string Upper(std::string text)
{
    for (char& c : text)
    {
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return text;
}

// The key a declared link finds a plugin by: hex IDs without letter case,
// a CLAP ID as it stands.
std::string IdKey(PluginFormat format, const std::string& id)
{
    return std::string(1, (char)('0' + Rank(format))) + (format == PluginFormat::clap ? id : Upper(id));
}

// Without letter case and surrounding blanks.
std::wstring Folded(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return L"";
    size_t last = text.find_last_not_of(" \t\r\n");
    return FoldCase(ToWide(text.substr(first, last - first + 1)));
}

struct Plugin
{
    const PluginEntry* entry = nullptr;
    PluginFormat format = PluginFormat::vst2;
    const std::wstring* path = nullptr;
    const std::wstring* pathKey = nullptr;
    std::string id;
    const std::string* name = nullptr;
    const std::string* vendor = nullptr;
    std::wstring vendorKey, nameKey;
    bool declared = false;
};

// The plugin an entry names, if it names one: ok, and not a VST 2 shell's
// own entry nor a VST3 class of another category.
bool NamesAPlugin(const ModuleResult& module, const PluginEntry& entry, bool shell, Plugin* plugin)
{
    if (entry.status != Status::ok)
        return false;
    plugin->entry = &entry;
    plugin->format = module.format;
    switch (module.format)
    {
    case PluginFormat::vst2:
        if (!entry.shellId && shell)
            return false;
        plugin->id = HexId(entry.report.id); // as the file writes an entry with a report
        plugin->name = &entry.report.name;
        plugin->vendor = &entry.report.vendor;
        return true;
    case PluginFormat::vst3:
        if (!entry.vst3 || entry.vst3->category != Vst3AudioModuleClass || entry.vst3->classId.empty())
            return false;
        plugin->id = entry.vst3->classId;
        plugin->name = &entry.vst3->name;
        plugin->vendor = &entry.vst3->vendor;
        return true;
    case PluginFormat::clap:
        if (!entry.clap || entry.clap->id.empty())
            return false;
        plugin->id = entry.clap->id;
        plugin->name = &entry.clap->name;
        plugin->vendor = &entry.clap->vendor;
        return true;
    }
    return false;
}

// A VST 2 module whose own plugin is a shell: its category says so, or it
// has sub-plugins (a shell read back from the file has no list of them).
bool IsShell(const ModuleResult& module)
{
    if (module.format != PluginFormat::vst2)
        return false;
    for (const PluginEntry& entry : module.plugins)
    {
        if (entry.shellId)
            return true;
        if (entry.report.category == ShellCategory || !entry.report.shells.empty())
            return true;
    }
    return false;
}

class Sets
{
public:
    explicit Sets(size_t n) : m_parent(n), m_size(n, 1)
    {
        for (size_t i = 0; i < n; i++)
            m_parent[i] = i;
    }
    size_t Find(size_t i)
    {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void Join(size_t a, size_t b)
    {
        a = Find(a);
        b = Find(b);
        if (a == b)
            return;
        if (m_size[a] < m_size[b])
            std::swap(a, b);
        m_parent[b] = a;
        m_size[a] += m_size[b];
    }
    size_t Size(size_t i) { return m_size[Find(i)]; }

private:
    std::vector<size_t> m_parent, m_size;
};

bool MemberBefore(const Plugin& a, const Plugin& b)
{
    if (Rank(a.format) != Rank(b.format))
        return Rank(a.format) < Rank(b.format);
    if (*a.pathKey != *b.pathKey)
        return *a.pathKey < *b.pathKey;
    return a.id < b.id;
}

} // namespace

std::vector<Product> LinkProducts(const std::vector<const ModuleRecord*>& modules)
{
    std::vector<std::wstring> pathKeys(modules.size());
    std::vector<Plugin> plugins;
    for (size_t m = 0; m < modules.size(); m++)
    {
        const ModuleResult& module = modules[m]->result;
        pathKeys[m] = FoldCase(module.path);
        bool shell = IsShell(module);
        for (const PluginEntry& entry : module.plugins)
        {
            Plugin plugin;
            if (!NamesAPlugin(module, entry, shell, &plugin))
                continue;
            plugin.path = &module.path;
            plugin.pathKey = &pathKeys[m];
            plugin.vendorKey = Folded(*plugin.vendor);
            plugin.nameKey = Folded(*plugin.name);
            plugins.push_back(std::move(plugin));
        }
    }
    const size_t n = plugins.size();
    Sets sets(n);

    std::unordered_map<std::string, std::vector<size_t>> byId;
    for (size_t i = 0; i < n; i++)
        byId[IdKey(plugins[i].format, plugins[i].id)].push_back(i);
    for (size_t i = 0; i < n; i++)
    {
        for (const FormatLink& link : plugins[i].entry->replaces)
        {
            auto named = byId.find(IdKey(link.format, link.id));
            if (named == byId.end())
                continue;
            for (size_t j : named->second)
            {
                if (j == i)
                    continue;
                sets.Join(i, j);
                plugins[i].declared = plugins[j].declared = true;
            }
        }
    }

    // Only a plugin that no declared link joins to another format is
    // guessed; it joins every plugin of its vendor and name.
    std::vector<unsigned> formatsOf(n, 0);
    for (size_t i = 0; i < n; i++)
        formatsOf[sets.Find(i)] |= 1u << Rank(plugins[i].format);
    std::vector<bool> guessable(n);
    for (size_t i = 0; i < n; i++)
    {
        unsigned formats = formatsOf[sets.Find(i)];
        guessable[i] = (formats & (formats - 1)) == 0;
    }
    std::unordered_map<std::wstring, size_t> anchors;
    auto key = [&](size_t i) { return plugins[i].vendorKey + L'\n' + plugins[i].nameKey; };
    for (size_t i = 0; i < n; i++)
    {
        if (guessable[i] && !plugins[i].vendorKey.empty() && !plugins[i].nameKey.empty())
            anchors.emplace(key(i), i);
    }
    for (size_t i = 0; i < n; i++)
    {
        if (plugins[i].vendorKey.empty() || plugins[i].nameKey.empty())
            continue;
        auto anchor = anchors.find(key(i));
        if (anchor != anchors.end())
            sets.Join(anchor->second, i);
    }

    std::vector<std::vector<size_t>> groups;
    std::vector<size_t> groupOf(n, SIZE_MAX);
    for (size_t i = 0; i < n; i++)
    {
        size_t root = sets.Find(i);
        if (groupOf[root] == SIZE_MAX)
        {
            groupOf[root] = groups.size();
            groups.emplace_back();
        }
        groups[groupOf[root]].push_back(i);
    }
    for (std::vector<size_t>& group : groups)
    {
        std::sort(group.begin(), group.end(),
                  [&](size_t a, size_t b) { return MemberBefore(plugins[a], plugins[b]); });
    }
    std::sort(groups.begin(), groups.end(), [&](const std::vector<size_t>& a, const std::vector<size_t>& b) {
        const Plugin& x = plugins[a.front()];
        const Plugin& y = plugins[b.front()];
        if (x.vendorKey != y.vendorKey)
            return x.vendorKey < y.vendorKey;
        if (x.nameKey != y.nameKey)
            return x.nameKey < y.nameKey;
        return MemberBefore(x, y);
    });

    std::vector<Product> products;
    products.reserve(groups.size());
    for (const std::vector<size_t>& group : groups)
    {
        Product product;
        const Plugin& first = plugins[group.front()];
        product.name = *first.name;
        product.vendor = *first.vendor;
        for (size_t i : group)
        {
            const Plugin& plugin = plugins[i];
            if (product.formats.empty() || product.formats.back() != plugin.format)
                product.formats.push_back(plugin.format);
            ProductMember member;
            member.format = plugin.format;
            member.path = *plugin.path;
            member.id = plugin.id;
            member.name = *plugin.name;
            member.vendor = *plugin.vendor;
            member.link = plugin.declared ? LinkDeclared : group.size() > 1 ? LinkGuessed : LinkAlone;
            product.members.push_back(std::move(member));
        }
        products.push_back(std::move(product));
    }
    return products;
}

std::vector<Product> LinkProducts(const std::vector<ModuleRecord>& modules)
{
    std::vector<const ModuleRecord*> pointers;
    pointers.reserve(modules.size());
    for (const ModuleRecord& record : modules)
        pointers.push_back(&record);
    return LinkProducts(pointers);
}

std::string ProductLine(const Product& product)
{
    // A plugin without a name is known by its ID.
    std::string line = product.name.empty() && !product.members.empty() ? product.members.front().id : product.name;
    if (!product.vendor.empty())
        line += " (" + product.vendor + ")";
    line += ":";
    for (size_t i = 0; i < product.formats.size(); i++)
        line += std::string(i ? ", " : " ") + FormatName(product.formats[i]);
    bool declared = false, guessed = false;
    for (const ProductMember& member : product.members)
    {
        declared = declared || member.link == LinkDeclared;
        guessed = guessed || member.link == LinkGuessed;
    }
    if (declared || guessed)
        line += std::string(" [") + (declared && guessed ? "declared, guessed" : declared ? "declared" : "guessed") + "]";
    return line;
}

} // namespace orvanta
