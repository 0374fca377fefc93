// Strict JSON like the other CLAP blocks: a standard parser reads them, and
// their shape is checked here, every member present and of its type.
#include "formats/clap/clap_presets_parser.h"
#include "client/json_block.h"

namespace orvanta {

using json = nlohmann::json;

namespace {

int Count(BlockMembers& read, const char* key)
{
    long long count = 0;
    read.Whole(key, 0, UINT32_MAX, &count);
    return count > INT32_MAX ? INT32_MAX : (int)count;
}

uint64_t Time(BlockMembers& read, const char* key)
{
    long long value = 0;
    read.Whole(key, 0, INT64_MAX, &value);
    return (uint64_t)value;
}

bool Kind(BlockMembers& read, const std::string& where, bool* inPlugin)
{
    std::string kind;
    read.Text("kind", &kind);
    if (kind != "file" && kind != "plugin")
    {
        read.Fail("member \"" + where + "kind\" is neither file nor plugin");
        return false;
    }
    *inPlugin = kind == "plugin";
    return true;
}

} // namespace

bool ParseClapProviderList(const std::string& block, ClapProviderList* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    BlockMembers read(doc, "", &problem);
    ClapProviderList out;
    read.Format("clap-presets");
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    read.Text("factory", &out.factory);
    out.providerCount = Count(read, "providerCount");
    EachBlockObject(read, "providers", &problem, [&](BlockMembers& p, const std::string&) {
        ClapProviderList::Provider provider;
        p.Int("index", &provider.index);
        p.Text("problem", &provider.problem);
        p.Text("id", &provider.id);
        p.Text("name", &provider.name);
        p.Text("vendor", &provider.vendor);
        p.Text("clapVersion", &provider.clapVersion);
        out.providers.push_back(std::move(provider));
    });
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

bool ParseClapProviderReport(const std::string& block, ClapProviderReport* report, std::string* error)
{
    json doc;
    if (!ParseJsonBlock(block, &doc, error))
        return false;
    std::string problem;
    BlockMembers read(doc, "", &problem);
    ClapProviderReport out;
    read.Format("clap-presets");
    read.Text("provider", &out.provider);
    read.Text("error", &out.error);
    read.Text("phase", &out.phase);
    EachBlockObject(read, "fileTypes", &problem, [&](BlockMembers& f, const std::string&) {
        ClapProviderReport::FileType type;
        f.Text("name", &type.name);
        f.Text("description", &type.description);
        f.Text("extension", &type.extension);
        out.fileTypes.push_back(std::move(type));
    });
    EachBlockObject(read, "locations", &problem, [&](BlockMembers& l, const std::string& where) {
        ClapProviderReport::Location location;
        l.Bits("flags", &location.flags);
        l.Text("name", &location.name);
        Kind(l, where, &location.inPlugin);
        l.Text("location", &location.location);
        out.locations.push_back(std::move(location));
    });
    EachBlockObject(read, "soundpacks", &problem, [&](BlockMembers& s, const std::string&) {
        ClapProviderReport::Soundpack pack;
        s.Bits("flags", &pack.flags);
        s.Text("id", &pack.id);
        s.Text("name", &pack.name);
        s.Text("description", &pack.description);
        s.Text("homepage", &pack.homepage);
        s.Text("vendor", &pack.vendor);
        s.Text("image", &pack.image);
        pack.released = Time(s, "released");
        out.soundpacks.push_back(std::move(pack));
    });
    out.presetCount = Count(read, "presetCount");
    EachBlockObject(read, "presets", &problem, [&](BlockMembers& p, const std::string& where) {
        ClapProviderReport::Item item;
        Preset& preset = item.preset;
        Kind(p, where, &item.inPlugin);
        p.Text("location", &item.location);
        p.Text("name", &preset.name);
        p.Text("loadKey", &preset.loadKey);
        EachBlockObject(p, "plugins", &problem, [&](BlockMembers& id, const std::string&) {
            PresetPlugin plugin;
            id.Text("abi", &plugin.abi);
            id.Text("id", &plugin.id);
            preset.plugins.push_back(std::move(plugin));
        });
        p.Text("soundpack", &preset.soundpack);
        p.Bits("flags", &preset.flags);
        p.Texts("creators", &preset.creators);
        p.Text("description", &preset.description);
        preset.created = Time(p, "created");
        preset.modified = Time(p, "modified");
        p.Texts("features", &preset.features);
        const json* extra = p.List("extra");
        for (size_t i = 0; extra && i < extra->size() && problem.empty(); i++)
        {
            const json& pair = (*extra)[i];
            if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string())
                p.Fail("member \"" + where + "extra[" + std::to_string(i) + "]\" is not a pair of texts");
            else
                preset.extra.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
        }
        p.Texts("cut", &item.cut);
        out.presets.push_back(std::move(item));
    });
    EachBlockObject(read, "errors", &problem, [&](BlockMembers& e, const std::string&) {
        ClapProviderReport::Error err;
        e.Text("location", &err.location);
        e.Whole("status", INT64_MIN, INT64_MAX, &err.status);
        e.Text("message", &err.message);
        out.errors.push_back(std::move(err));
    });
    read.Texts("cut", &out.cut);
    if (!FinishBlock(problem, error))
        return false;
    *report = std::move(out);
    return true;
}

} // namespace orvanta
