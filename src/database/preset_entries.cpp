#include "database/preset_entries.h"
#include "orvanta/text.h"

namespace orvanta {
namespace {

Json ProviderToJson(const PresetProvider& p)
{
    Json item = Json::object();
    item["id"] = p.id;
    item["name"] = p.name;
    item["vendor"] = p.vendor;
    item["status"] = StatusName(p.status);
    if (p.attempts != 1)
        item["attempts"] = p.attempts;
    PutText(item, "error", p.error);
    PutText(item, "phase", p.phase);
    item["presetCount"] = p.presetCount;
    item["fileTypes"] = p.fileTypes;
    return item;
}

Json LocationToJson(const PresetLocation& l)
{
    Json item = Json::object();
    PutText(item, "provider", l.provider);
    PutText(item, "name", l.name);
    if (l.flags)
        item["flags"] = l.flags;
    item["kind"] = l.inPlugin ? "plugin" : "file";
    if (!l.inPlugin)
        item["path"] = ToUtf8(l.path);
    item["stamp"] = l.stamp;
    return item;
}

Json PresetToJson(const Preset& p)
{
    Json item = Json::object();
    item["name"] = p.name;
    if (!p.file.empty())
        item["file"] = ToUtf8(p.file);
    PutText(item, "loadKey", p.loadKey);
    Json plugins = Json::array();
    for (const PresetPlugin& plugin : p.plugins)
        plugins.push_back(Json{{"abi", plugin.abi}, {"id", plugin.id}});
    item["plugins"] = std::move(plugins);
    PutText(item, "provider", p.provider);
    PutText(item, "soundpack", p.soundpack);
    if (p.flags)
        item["flags"] = p.flags;
    if (!p.creators.empty())
        item["creators"] = p.creators;
    PutText(item, "description", p.description);
    if (p.created)
        item["created"] = p.created;
    if (p.modified)
        item["modified"] = p.modified;
    if (!p.features.empty())
        item["features"] = p.features;
    if (!p.extra.empty())
    {
        // A list of pairs: keys may repeat, and their order is the plugin's.
        Json extra = Json::array();
        for (const auto& pair : p.extra)
            extra.push_back(Json::array({pair.first, pair.second}));
        item["extra"] = std::move(extra);
    }
    return item;
}

// Each object of the list member name, read by one.
template <typename Read> bool EachObject(MemberReader& read, const char* name, Read one)
{
    auto list = read.object.find(name);
    if (list == read.object.end())
        return true;
    if (!list->is_array())
        return read.Fail(name, "is not a list");
    for (size_t i = 0; i < list->size(); i++)
    {
        std::string where = read.where + "." + name + "[" + std::to_string(i) + "]";
        if (!(*list)[i].is_object())
        {
            *read.error = where + " is not an object";
            return false;
        }
        MemberReader item{(*list)[i], where, read.error};
        if (!one(item))
            return false;
    }
    return true;
}

bool ProviderFromJson(MemberReader& read, PresetProvider* p)
{
    return read.Text("id", &p->id, true) && read.Text("name", &p->name) && read.Text("vendor", &p->vendor) &&
           read.StatusOf(&p->status) && read.Number("attempts", &p->attempts) && read.Text("error", &p->error) &&
           read.Text("phase", &p->phase) && read.Number("presetCount", &p->presetCount) &&
           read.Texts("fileTypes", &p->fileTypes);
}

bool LocationFromJson(MemberReader& read, PresetLocation* l)
{
    std::string kind, path;
    if (!read.Text("provider", &l->provider) || !read.Text("name", &l->name) || !read.Number("flags", &l->flags) ||
        !read.Text("kind", &kind, true) || !read.Text("path", &path) || !read.Text("stamp", &l->stamp))
        return false;
    if (kind != "file" && kind != "plugin")
        return read.Fail("kind", "is not file or plugin");
    l->inPlugin = kind == "plugin";
    l->path = ToWide(path);
    return true;
}

bool PresetFromJson(MemberReader& read, Preset* p)
{
    std::string file;
    if (!read.Text("name", &p->name, true) || !read.Text("file", &file) || !read.Text("loadKey", &p->loadKey) ||
        !read.Text("provider", &p->provider) || !read.Text("soundpack", &p->soundpack) ||
        !read.Number("flags", &p->flags) || !read.Texts("creators", &p->creators) ||
        !read.Text("description", &p->description) || !read.Number("created", &p->created) ||
        !read.Number("modified", &p->modified) || !read.Texts("features", &p->features))
        return false;
    p->file = ToWide(file);
    if (!EachObject(read, "plugins", [&](MemberReader& item) {
            PresetPlugin plugin;
            if (!item.Text("abi", &plugin.abi, true) || !item.Text("id", &plugin.id, true))
                return false;
            p->plugins.push_back(std::move(plugin));
            return true;
        }))
        return false;
    auto extra = read.object.find("extra");
    if (extra == read.object.end())
        return true;
    if (!extra->is_array())
        return read.Fail("extra", "is not a list");
    for (const Json& pair : *extra)
    {
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string())
            return read.Fail("extra", "holds an entry that is not a pair of texts");
        p->extra.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    }
    return true;
}

} // namespace

Json PresetsToJson(const ModulePresets& presets)
{
    Json out = Json::object();
    out["moduleModified"] = presets.moduleModified;
    PutText(out, "factory", presets.factory);
    if (!presets.providers.empty())
    {
        Json list = Json::array();
        for (const PresetProvider& p : presets.providers)
            list.push_back(ProviderToJson(p));
        out["providers"] = std::move(list);
    }
    Json locations = Json::array();
    for (const PresetLocation& l : presets.locations)
        locations.push_back(LocationToJson(l));
    out["locations"] = std::move(locations);
    Json items = Json::array();
    for (const Preset& p : presets.presets)
        items.push_back(PresetToJson(p));
    out["items"] = std::move(items);
    if (!presets.findings.empty())
        out["findings"] = presets.findings;
    return out;
}

bool PresetsFromJson(MemberReader& entry, std::optional<ModulePresets>* presets)
{
    auto member = entry.object.find("presets");
    if (member == entry.object.end())
        return true;
    if (!member->is_object())
        return entry.Fail("presets", "is not an object");
    MemberReader read{*member, entry.where + ".presets", entry.error};
    ModulePresets out;
    if (!read.Text("moduleModified", &out.moduleModified) || !read.Text("factory", &out.factory) ||
        !read.Texts("findings", &out.findings) ||
        !EachObject(read, "providers",
                    [&](MemberReader& item) {
                        out.providers.emplace_back();
                        return ProviderFromJson(item, &out.providers.back());
                    }) ||
        !EachObject(read, "locations",
                    [&](MemberReader& item) {
                        out.locations.emplace_back();
                        return LocationFromJson(item, &out.locations.back());
                    }) ||
        !EachObject(read, "items", [&](MemberReader& item) {
            out.presets.emplace_back();
            return PresetFromJson(item, &out.presets.back());
        }))
        return false;
    *presets = std::move(out);
    return true;
}

} // namespace orvanta
