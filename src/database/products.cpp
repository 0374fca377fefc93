// One plugin across its formats: the plugin entries joined by what they
// declare, then by vendor and name, with a union-find over all of them (a
// database holds thousands, and is grouped again on every write).
#include "database/linked_products.h"
#include "orvanta/database.h"
#include "orvanta/paths.h"
#include "orvanta/text.h"
#include <algorithm>
#include <cstdint>
#include <string_view>
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

// Without letter case (a file name's rule: invariant upper case) and
// surrounding blanks, as UTF-8. Names are mostly ASCII: those are folded
// here, without a round trip through UTF-16 and the system.
std::string Folded(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    std::string folded = text.substr(first, last - first + 1);
    for (char& c : folded)
    {
        if ((unsigned char)c >= 0x80)
            return ToUtf8(FoldCase(ToWide(folded)));
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return folded;
}

std::string FoldedPath(const std::wstring& path)
{
    std::string folded(path.size(), '\0');
    for (size_t i = 0; i < path.size(); i++)
    {
        wchar_t c = path[i];
        if (c >= 0x80)
            return ToUtf8(FoldCase(path));
        folded[i] = (char)(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
    }
    return folded;
}

// A plugin while it is grouped: where its module sorts, and its vendor
// and name as compared.
struct Node
{
    LinkedPlugin plugin;
    const std::string* pathKey = nullptr;
    std::string key; // vendor and name, folded, with a NUL between
    bool named = false; // neither is empty
    bool declared = false;
};

// The plugin an entry names, if it names one: ok, and not a VST 2 shell's
// own entry nor a VST3 class of another category.
bool NamesAPlugin(const ModuleResult& module, const PluginEntry& entry, bool shell, LinkedPlugin* plugin)
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
        break;
    case PluginFormat::vst3:
        if (!entry.vst3 || entry.vst3->category != Vst3AudioModuleClass || entry.vst3->classId.empty())
            return false;
        break;
    case PluginFormat::clap:
        if (!entry.clap || entry.clap->id.empty())
            return false;
        break;
    }
    // A CLAP ID is kept as it is; a VST3 class ID read from an older file
    // may be in lower case.
    plugin->id = module.format == PluginFormat::vst3 ? Upper(entry.Id()) : entry.Id();
    plugin->name = &entry.Name();
    plugin->vendor = &entry.Vendor();
    return true;
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

private:
    std::vector<size_t> m_parent, m_size;
};

// The same plugin (format and ID) built for another machine.
bool IsTwin(const Node& a, const Node& b)
{
    return a.plugin.format == b.plugin.format && a.plugin.id == b.plugin.id && !a.plugin.machine->empty() &&
           !b.plugin.machine->empty() && *a.plugin.machine != *b.plugin.machine;
}

bool MemberBefore(const Node& a, const Node& b)
{
    if (a.plugin.format != b.plugin.format)
        return Rank(a.plugin.format) < Rank(b.plugin.format);
    if (*a.pathKey != *b.pathKey)
        return *a.pathKey < *b.pathKey;
    return a.plugin.id < b.plugin.id;
}

} // namespace

LinkedProducts GroupProducts(const std::vector<const ModuleRecord*>& modules)
{
    std::vector<std::string> pathKeys(modules.size());
    std::vector<Node> nodes;
    nodes.reserve(modules.size() + modules.size() / 2);
    for (size_t m = 0; m < modules.size(); m++)
    {
        const ModuleResult& module = modules[m]->result;
        pathKeys[m] = FoldedPath(module.path);
        bool shell = IsShell(module);
        for (const PluginEntry& entry : module.plugins)
        {
            Node node;
            if (!NamesAPlugin(module, entry, shell, &node.plugin))
                continue;
            node.plugin.path = &module.path;
            node.plugin.machine = &module.machine;
            node.pathKey = &pathKeys[m];
            std::string vendor = Folded(*node.plugin.vendor), name = Folded(*node.plugin.name);
            node.named = !vendor.empty() && !name.empty();
            node.key = vendor + '\0' + name;
            nodes.push_back(std::move(node));
        }
    }
    const size_t n = nodes.size();
    Sets sets(n);

    // Every plugin of a format and ID, as a chain through sameId. The maps
    // look into the nodes, which stay where they are from here on.
    std::unordered_map<std::string_view, size_t> byId[3];
    std::vector<size_t> sameId(n, SIZE_MAX);
    for (size_t i = 0; i < n; i++)
    {
        auto added = byId[Rank(nodes[i].plugin.format)].emplace(nodes[i].plugin.id, i);
        if (!added.second)
        {
            sameId[i] = added.first->second;
            added.first->second = i;
        }
    }
    // A plugin's builds for other machines are the same plugin.
    for (size_t i = 0; i < n; i++)
    {
        for (size_t j = sameId[i]; j != SIZE_MAX; j = sameId[j])
        {
            if (IsTwin(nodes[i], nodes[j]))
                sets.Join(i, j);
        }
    }
    for (size_t i = 0; i < n; i++)
    {
        for (const FormatLink& link : nodes[i].plugin.entry->replaces)
        {
            auto& ids = byId[Rank(link.format)];
            std::string id = link.format == PluginFormat::clap ? link.id : Upper(link.id);
            auto named = ids.find(id);
            for (size_t j = named == ids.end() ? SIZE_MAX : named->second; j != SIZE_MAX; j = sameId[j])
            {
                if (j == i)
                    continue;
                sets.Join(i, j);
                nodes[i].declared = nodes[j].declared = true;
            }
        }
    }

    // Only a plugin that no declared link joins to another format is
    // guessed; it joins every plugin of its vendor and name.
    std::vector<unsigned> formatsOf(n, 0);
    for (size_t i = 0; i < n; i++)
        formatsOf[sets.Find(i)] |= 1u << Rank(nodes[i].plugin.format);
    std::unordered_map<std::string_view, size_t> anchors;
    for (size_t i = 0; i < n; i++)
    {
        unsigned formats = formatsOf[sets.Find(i)];
        if (nodes[i].named && (formats & (formats - 1)) == 0)
            anchors.emplace(nodes[i].key, i);
    }
    for (size_t i = 0; i < n; i++)
    {
        auto anchor = nodes[i].named ? anchors.find(nodes[i].key) : anchors.end();
        if (anchor != anchors.end())
            sets.Join(anchor->second, i);
    }

    // Products are runs of one root in member order, then sorted by their
    // first members.
    std::vector<size_t> root(n), order(n);
    for (size_t i = 0; i < n; i++)
    {
        root[i] = sets.Find(i);
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return root[a] != root[b] ? root[a] < root[b] : MemberBefore(nodes[a], nodes[b]);
    });
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t k = 0; k < n; k++)
    {
        if (k == 0 || root[order[k]] != root[order[k - 1]])
            runs.emplace_back(k, k);
        runs.back().second = k + 1;
    }
    std::sort(runs.begin(), runs.end(), [&](const std::pair<size_t, size_t>& a, const std::pair<size_t, size_t>& b) {
        const Node& x = nodes[order[a.first]];
        const Node& y = nodes[order[b.first]];
        if (x.key != y.key)
            return x.key < y.key;
        return *x.pathKey != *y.pathKey ? *x.pathKey < *y.pathKey : MemberBefore(x, y);
    });

    LinkedProducts linked;
    linked.plugins.reserve(n);
    linked.products.reserve(runs.size());
    for (const auto& run : runs)
    {
        linked.products.emplace_back(linked.plugins.size(), linked.plugins.size() + run.second - run.first);
        // A build for another machine of a plugin before it in the product
        // does not make the product more than one plugin.
        size_t plugins = 0;
        for (size_t k = run.first; k < run.second; k++)
        {
            bool twin = false;
            for (size_t e = run.first; e < k && !twin; e++)
                twin = IsTwin(nodes[order[k]], nodes[order[e]]);
            plugins += twin ? 0 : 1;
            if (plugins > 1)
                break;
        }
        for (size_t k = run.first; k < run.second; k++)
        {
            Node& node = nodes[order[k]];
            node.plugin.link = node.declared ? LinkDeclared : plugins > 1 ? LinkGuessed : LinkAlone;
            linked.plugins.push_back(std::move(node.plugin));
        }
    }
    return linked;
}

std::vector<Product> LinkProducts(const std::vector<const ModuleRecord*>& modules)
{
    LinkedProducts linked = GroupProducts(modules);
    std::vector<Product> products;
    products.reserve(linked.products.size());
    for (const auto& range : linked.products)
    {
        Product product;
        const LinkedPlugin& first = linked.plugins[range.first];
        product.name = *first.name;
        product.vendor = *first.vendor;
        for (size_t i = range.first; i < range.second; i++)
        {
            const LinkedPlugin& plugin = linked.plugins[i];
            if (product.formats.empty() || product.formats.back() != plugin.format)
                product.formats.push_back(plugin.format);
            product.members.push_back(ProductMember{plugin.format, *plugin.path, plugin.id, *plugin.name,
                                                    *plugin.vendor, *plugin.machine, plugin.link});
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
    // Each format's machines, where the product has more than one.
    std::vector<std::string> machines[3], all;
    for (const ProductMember& member : product.members)
    {
        if (member.machine.empty())
            continue;
        std::vector<std::string>& list = machines[Rank(member.format)];
        if (std::find(list.begin(), list.end(), member.machine) == list.end())
            list.push_back(member.machine);
        if (std::find(all.begin(), all.end(), member.machine) == all.end())
            all.push_back(member.machine);
    }
    bool several = all.size() > 1;
    for (size_t i = 0; i < product.formats.size(); i++)
    {
        line += std::string(i ? ", " : " ") + FormatName(product.formats[i]);
        std::vector<std::string>& list = machines[Rank(product.formats[i])];
        if (!several || list.empty())
            continue;
        std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
            return a == "x64" ? b != "x64" : b == "x64" ? false : a < b;
        });
        for (size_t m = 0; m < list.size(); m++)
            line += (m ? ", " : " (") + list[m];
        line += ")";
    }
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
