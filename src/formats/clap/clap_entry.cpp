// A CLAP module's members in the database file (its entry's version and the
// factory's count) and its plugins' entries: the ID, the outcome of its
// instance's request, the descriptor, and the ports when the instance was read.
#include "database/database_file.h"
#include "formats/clap/clap_host_rules.h"
#include "formats/clap/clap_unit.h"

namespace orvanta {

namespace {

// A note port's dialect bits by name, in the order the file lists them.
const std::pair<uint32_t, const char*> ClapDialects[] = {{1, "clap"}, {2, "midi"}, {4, "midi-mpe"}, {8, "midi2"}};

uint32_t DialectBit(const std::string& text)
{
    for (const auto& dialect : ClapDialects)
        if (text == dialect.second)
            return dialect.first;
    return 0;
}

Json NotePortsToJson(const std::vector<ClapNotePort>& ports)
{
    Json list = Json::array();
    for (const ClapNotePort& port : ports)
    {
        Json dialects = Json::array();
        std::string preferred;
        for (const auto& dialect : ClapDialects)
        {
            if (port.dialects & dialect.first)
                dialects.push_back(dialect.second);
            if (port.preferred == dialect.first)
                preferred = dialect.second;
        }
        list.push_back({{"name", port.name}, {"dialects", dialects}, {"preferred", preferred}});
    }
    return list;
}

bool NotePortFromJson(MemberReader& port, ClapNotePort* note)
{
    std::vector<std::string> dialects;
    std::string preferred;
    if (!port.Text("name", &note->name) || !port.Texts("dialects", &dialects) || !port.Text("preferred", &preferred))
        return false;
    for (const std::string& dialect : dialects)
    {
        if (!DialectBit(dialect))
            return port.Fail("dialects", "holds a name other than clap, midi, midi-mpe or midi2");
        note->dialects |= DialectBit(dialect);
    }
    note->preferred = DialectBit(preferred);
    if (!preferred.empty() && !note->preferred)
        return port.Fail("preferred", "is not clap, midi, midi-mpe, midi2 or empty");
    return true;
}

bool NotePortsFromJson(MemberReader& read, const char* name, std::vector<ClapNotePort>* ports)
{
    auto list = read.object.find(name);
    if (list == read.object.end())
        return true;
    if (!list->is_array())
        return read.Fail(name, "is not a list");
    for (size_t i = 0; i < list->size(); i++)
    {
        const Json& item = (*list)[i];
        std::string where = read.where + "." + name + "[" + std::to_string(i) + "]";
        if (!item.is_object())
        {
            *read.error = where + " is not an object";
            return false;
        }
        MemberReader port{item, where, read.error};
        ClapNotePort note;
        if (!NotePortFromJson(port, &note))
            return false;
        ports->push_back(std::move(note));
    }
    return true;
}

void PortsToJson(const ClapPorts& p, Json& entry)
{
    entry["audioInputPorts"] = p.audioInputPorts;
    entry["audioOutputPorts"] = p.audioOutputPorts;
    entry["audioInputs"] = p.audioInputs;
    entry["audioOutputs"] = p.audioOutputs;
    entry["noteInputs"] = NotePortsToJson(p.noteInputs);
    entry["noteOutputs"] = NotePortsToJson(p.noteOutputs);
    entry["noteInputPorts"] = p.noteInputPorts;
    entry["noteOutputPorts"] = p.noteOutputPorts;
}

// The ports are there when any of their members is.
bool PortsFromJson(MemberReader& read, ClapPlugin* c)
{
    const char* const portMembers[] = {"audioInputPorts", "audioOutputPorts", "audioInputs",    "audioOutputs",
                                       "noteInputs",      "noteOutputs",      "noteInputPorts", "noteOutputPorts"};
    for (const char* name : portMembers)
    {
        if (read.object.contains(name))
            c->ports.emplace();
    }
    if (!c->ports)
        return true;
    ClapPorts& p = *c->ports;
    return read.Number("audioInputPorts", &p.audioInputPorts) &&
           read.Number("audioOutputPorts", &p.audioOutputPorts) && read.Number("audioInputs", &p.audioInputs) &&
           read.Number("audioOutputs", &p.audioOutputs) && NotePortsFromJson(read, "noteInputs", &p.noteInputs) &&
           NotePortsFromJson(read, "noteOutputs", &p.noteOutputs) &&
           read.Number("noteInputPorts", &p.noteInputPorts) && read.Number("noteOutputPorts", &p.noteOutputPorts);
}

} // namespace

Json ClapUnit::ModuleToJson(const ModuleResult& m) const
{
    Json own = Json::object();
    PutText(own, "phase", m.phase);
    PutText(own, "clapVersion", m.clapVersion);
    own["pluginCount"] = m.pluginCount;
    if (!m.findings.empty())
        own["findings"] = m.findings;
    return own;
}

bool ClapUnit::ModuleFromJson(MemberReader& read, ModuleResult* m) const
{
    // A CLAP module is its own binary.
    m->binary = m->path;
    return read.Text("phase", &m->phase) && read.Text("clapVersion", &m->clapVersion) &&
           read.Number("pluginCount", &m->pluginCount) && read.Texts("findings", &m->findings);
}

Json ClapUnit::PluginToJson(const PluginEntry& plugin) const
{
    Json entry = Json::object();
    ClapPlugin none;
    const ClapPlugin& c = plugin.clap ? *plugin.clap : none;
    entry["id"] = c.id;
    entry["status"] = StatusName(plugin.status);
    if (plugin.attempts != 1)
        entry["attempts"] = plugin.attempts;
    PutText(entry, "error", plugin.error);
    PutText(entry, "phase", plugin.phase);
    entry["name"] = c.name;
    entry["vendor"] = c.vendor;
    entry["url"] = c.url;
    entry["manualUrl"] = c.manualUrl;
    entry["supportUrl"] = c.supportUrl;
    entry["version"] = c.version;
    entry["description"] = c.description;
    entry["features"] = c.features;
    entry["clapVersion"] = c.clapVersion;
    if (!c.cut.empty())
        entry["cut"] = c.cut;
    entry["sources"] = c.sources;
    if (c.ports)
        PortsToJson(*c.ports, entry);
    if (c.gui)
        entry["editor"] = *c.gui;
    return entry;
}

bool ClapUnit::PluginFromJson(MemberReader& read, PluginEntry* plugin) const
{
    ClapPlugin c;
    if (!read.Text("id", &c.id, true) || !read.StatusOf(&plugin->status) ||
        !read.Number("attempts", &plugin->attempts) || !read.Text("error", &plugin->error) ||
        !read.Text("phase", &plugin->phase) || !read.Text("name", &c.name) || !read.Text("vendor", &c.vendor) ||
        !read.Text("url", &c.url) || !read.Text("manualUrl", &c.manualUrl) ||
        !read.Text("supportUrl", &c.supportUrl) || !read.Text("version", &c.version) ||
        !read.Text("description", &c.description) || !read.Texts("features", &c.features) ||
        !read.Text("clapVersion", &c.clapVersion) || !read.Texts("cut", &c.cut) ||
        !read.Texts("sources", &c.sources) || !read.OptionalFlag("editor", &c.gui))
        return false;
    if (!PortsFromJson(read, &c))
        return false;
    plugin->clap = std::move(c);
    return true;
}

// A CLAP plugin offers ARA through its module's factory or its features.
void ClapUnit::AraToJson(const AraSupport& ara, Json& member) const
{
    member["factory"] = ara.factory;
    member["feature"] = ara.feature;
}

// A CLAP plugin ID is any text the descriptor gave.
std::optional<std::string> ClapUnit::CanonicalId(const std::string& text) const
{
    return text;
}

const char* ClapUnit::IdForm() const
{
    return "a plugin ID";
}

// Files before format 4 had no ARA; the descriptor's features tell it (the
// module's ARA factory was not recorded then: it waits for a rescan).
void ClapUnit::CarryOver(ModuleResult* m) const
{
    for (PluginEntry& plugin : m->plugins)
        MarkClapAra("", &plugin);
}

} // namespace orvanta
