#include "database_file.h"
#include "host_rules.h"
#include "linked_products.h"
#include "vst3_report_parser.h"
#include "orvanta/text.h"
#include <type_traits>

namespace orvanta {

using json = Json;

const char LeftOverThreadCrash[] = "a thread it left running crashed the server during a later request";

namespace {

// An ID member: a text of eight hexadecimal digits.
bool HexIdMember(const json& value, uint32_t* id)
{
    return value.is_string() && ParseHexId(value.get_ref<const std::string&>(), id);
}

void PutText(json& object, const char* name, const std::string& text)
{
    if (!text.empty())
        object[name] = text;
}

// Readers for one member: absent members keep the default, members of the
// wrong type fail with their name.
struct Reader
{
    const json& object;
    std::string where;
    std::string* error;

    bool Fail(const char* name, const char* what)
    {
        *error = where + "." + name + " " + what;
        return false;
    }
    bool Text(const char* name, std::string* out, bool required = false)
    {
        auto it = object.find(name);
        if (it == object.end())
            return required ? Fail(name, "is missing") : true;
        if (!it->is_string())
            return Fail(name, "is not a text");
        *out = it->get<std::string>();
        return true;
    }
    template <typename T> bool Number(const char* name, T* out, bool required = false)
    {
        auto it = object.find(name);
        if (it == object.end())
            return required ? Fail(name, "is missing") : true;
        if (!it->is_number_integer() || (std::is_unsigned<T>::value && !it->is_number_unsigned()))
            return Fail(name, std::is_unsigned<T>::value ? "is not a whole number of at least 0"
                                                         : "is not a whole number");
        *out = it->get<T>();
        return true;
    }
    bool Flag(const char* name, bool* out)
    {
        auto it = object.find(name);
        if (it == object.end())
            return true;
        if (!it->is_boolean())
            return Fail(name, "is not true or false");
        *out = it->get<bool>();
        return true;
    }
    bool OptionalFlag(const char* name, std::optional<bool>* out)
    {
        if (!object.contains(name))
            return true;
        bool value = false;
        if (!Flag(name, &value))
            return false;
        *out = value;
        return true;
    }
    bool Texts(const char* name, std::vector<std::string>* out)
    {
        auto it = object.find(name);
        if (it == object.end())
            return true;
        if (!it->is_array())
            return Fail(name, "is not a list");
        out->clear();
        for (const json& item : *it)
        {
            if (!item.is_string())
                return Fail(name, "holds an entry that is not a text");
            out->push_back(item.get<std::string>());
        }
        return true;
    }
    bool StatusOf(Status* out)
    {
        std::string text;
        if (!Text("status", &text, true))
            return false;
        if (!ParseStatus(text, out))
            return Fail("status", "is not ok, failed, crashed, timeout or lost");
        return true;
    }
};

// A plugin entry's declared links ("replaces"), written when there are any.
void PutLinks(json& entry, const std::vector<FormatLink>& links)
{
    if (links.empty())
        return;
    json list = json::array();
    for (const FormatLink& link : links)
        list.push_back({{"format", FormatName(link.format)}, {"id", link.id}, {"declaredBy", link.declaredBy}});
    entry["replaces"] = list;
}

// The reverse: each link's ID in its format's form, hex IDs in upper case.
bool ReadLinks(const json& entry, const std::string& where, std::vector<FormatLink>* links, std::string* error)
{
    auto list = entry.find("replaces");
    if (list == entry.end())
        return true;
    if (!list->is_array())
    {
        *error = where + ".replaces is not a list";
        return false;
    }
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& item = (*list)[i];
        std::string at = where + ".replaces[" + std::to_string(i) + "]";
        if (!item.is_object())
        {
            *error = at + " is not an object";
            return false;
        }
        Reader read{item, at, error};
        FormatLink link;
        std::string format;
        if (!read.Text("format", &format, true) || !read.Text("id", &link.id, true) ||
            !read.Text("declaredBy", &link.declaredBy))
            return false;
        if (!ParseFormat(format, &link.format))
            return read.Fail("format", "is not vst2, vst3 or clap");
        uint32_t id = 0;
        if (link.format == PluginFormat::vst2 && !ParseHexId(link.id, &id))
            return read.Fail("id", "is not eight hexadecimal digits");
        if (link.format == PluginFormat::vst2)
            link.id = HexId(id);
        if (link.format == PluginFormat::vst3 && !ParseClassId(link.id, &link.id))
            return read.Fail("id", "is not 32 hexadecimal digits");
        if (link.id.empty())
            return read.Fail("id", "is empty");
        links->push_back(std::move(link));
    }
    return true;
}

// A plugin entry's ARA member, written when the plugin offers ARA: what
// says so in its format (the VST3 class paired with it; CLAP's factory and
// features).
void PutAra(json& entry, PluginFormat format, const std::optional<AraSupport>& ara)
{
    if (!ara)
        return;
    json member = json::object();
    member["required"] = ara->required;
    if (format == PluginFormat::vst3)
        member["factoryClass"] = ara->factoryClass;
    else
    {
        member["factory"] = ara->factory;
        member["feature"] = ara->feature;
    }
    entry["ara"] = member;
}

bool ReadAra(const json& entry, const std::string& where, std::optional<AraSupport>* ara, std::string* error)
{
    auto member = entry.find("ara");
    if (member == entry.end())
        return true;
    if (!member->is_object())
    {
        *error = where + ".ara is not an object";
        return false;
    }
    Reader read{*member, where + ".ara", error};
    AraSupport out;
    if (!read.Flag("required", &out.required) || !read.Text("factoryClass", &out.factoryClass) ||
        !read.Text("factory", &out.factory) || !read.Flag("feature", &out.feature))
        return false;
    if (!out.factoryClass.empty() && !ParseClassId(out.factoryClass, &out.factoryClass))
        return read.Fail("factoryClass", "is not 32 hexadecimal digits");
    *ara = out;
    return true;
}

// What reading a file written before format 4 supplies from the entry
// itself: the factory's vendor for VST3 classes without one, ARA from the
// classes' categories and the CLAP features. (A CLAP module's ARA factory
// and every editor were not recorded then: they wait for a rescan.)
void CarryOver(ModuleResult* m)
{
    if (m->format == PluginFormat::vst3)
    {
        if (m->factory)
            ApplyFactoryVendor(m->factory->vendor, &m->plugins);
        MarkVst3Ara(&m->plugins);
    }
    if (m->format == PluginFormat::clap)
    {
        for (PluginEntry& plugin : m->plugins)
            MarkClapAra("", &plugin);
    }
}

// A text as a JSON string, as the JSON library writes it (broken UTF-8
// replaced); plain ASCII without its own work.
template <typename Char> void AppendQuoted(std::string& out, const std::basic_string<Char>& text)
{
    size_t start = out.size();
    out += '"';
    for (Char c : text)
    {
        if (c < 0x20 || c >= 0x7F)
        {
            out.resize(start);
            std::string utf8;
            if constexpr (sizeof(Char) == 1)
                utf8 = text;
            else
                utf8 = ToUtf8(text);
            out += json(utf8).dump(-1, ' ', false, json::error_handler_t::replace);
            return;
        }
        if (c == '"' || c == '\\')
            out += '\\';
        out += (char)c;
    }
    out += '"';
}

json PluginToJson(const PluginEntry& plugin)
{
    json entry = json::object();
    bool hasReport = plugin.status == Status::ok || plugin.status == Status::failed;
    // Without a report the requested sub-plugin ID is the only one known.
    uint32_t id = !hasReport && plugin.shellId ? *plugin.shellId : plugin.report.id;
    entry["id"] = HexId(id);
    entry["shellId"] = plugin.shellId ? json(HexId(*plugin.shellId)) : json(nullptr);
    entry["status"] = StatusName(plugin.status);
    // A sub-plugin's crash is retried like a module's; one attempt goes unsaid.
    if (plugin.attempts != 1)
        entry["attempts"] = plugin.attempts;
    PutText(entry, "error", plugin.error);
    const PluginReport& r = plugin.report;
    if (hasReport)
    {
        entry["name"] = r.name;
        entry["vendor"] = r.vendor;
        entry["product"] = r.product;
        entry["version"] = r.version;
        entry["numInputs"] = r.numInputs;
        entry["numOutputs"] = r.numOutputs;
        entry["wantsMidi"] = r.wantsMidi;
        entry["sendsMidi"] = r.sendsMidi;
        entry["platform"] = r.platform;
        entry["audio64"] = r.audio64;
        entry["category"] = r.category;
        entry["synthEdit"] = r.synthEdit;
        if (r.hasEditor)
            entry["editor"] = *r.hasEditor;
    }
    else
    {
        PutText(entry, "name", r.name);
    }
    return entry;
}

bool PluginFromJson(const json& entry, const std::string& where, PluginEntry* plugin,
                    std::string* error)
{
    if (!entry.is_object())
    {
        *error = where + " is not an object";
        return false;
    }
    Reader read{entry, where, error};
    auto id = entry.find("id");
    if (id == entry.end() || !HexIdMember(*id, &plugin->report.id))
        return read.Fail("id", "is not eight hexadecimal digits");
    auto shell = entry.find("shellId");
    if (shell != entry.end() && !shell->is_null())
    {
        uint32_t shellId = 0;
        if (!HexIdMember(*shell, &shellId))
            return read.Fail("shellId", "is neither null nor eight hexadecimal digits");
        plugin->shellId = shellId;
    }
    PluginReport& r = plugin->report;
    return read.StatusOf(&plugin->status) && read.Number("attempts", &plugin->attempts) &&
           read.Text("error", &plugin->error) &&
           read.Text("name", &r.name) && read.Text("vendor", &r.vendor) &&
           read.Text("product", &r.product) && read.Text("version", &r.version) &&
           read.Number("numInputs", &r.numInputs) && read.Number("numOutputs", &r.numOutputs) &&
           read.Flag("wantsMidi", &r.wantsMidi) && read.Flag("sendsMidi", &r.sendsMidi) &&
           read.Text("platform", &r.platform) && read.Flag("audio64", &r.audio64) &&
           read.Number("category", &r.category) && read.Flag("synthEdit", &r.synthEdit) &&
           read.OptionalFlag("editor", &r.hasEditor);
}

// A VST3 class's entry: the class ID, the outcome of its own request (an
// audio module class's instance), and what was read about it.
json ClassToJson(const PluginEntry& plugin)
{
    json entry = json::object();
    Vst3Class none;
    const Vst3Class& c = plugin.vst3 ? *plugin.vst3 : none;
    entry["id"] = c.classId;
    entry["status"] = StatusName(plugin.status);
    if (plugin.attempts != 1)
        entry["attempts"] = plugin.attempts;
    PutText(entry, "error", plugin.error);
    PutText(entry, "phase", plugin.phase);
    entry["category"] = c.category;
    entry["name"] = c.name;
    entry["vendor"] = c.vendor;
    if (c.vendorFromFactory)
        entry["vendorFrom"] = "factory";
    entry["version"] = c.version;
    entry["sdkVersion"] = c.sdkVersion;
    entry["subCategories"] = c.subCategories;
    entry["classFlags"] = c.classFlags;
    entry["cardinality"] = c.cardinality;
    entry["sources"] = c.sources;
    if (c.buses)
    {
        entry["audioInputs"] = c.buses->audioInputs;
        entry["audioOutputs"] = c.buses->audioOutputs;
        entry["audioInputBuses"] = c.buses->audioInputBuses;
        entry["audioOutputBuses"] = c.buses->audioOutputBuses;
        entry["eventInputBuses"] = c.buses->eventInputBuses;
        entry["eventOutputBuses"] = c.buses->eventOutputBuses;
    }
    if (c.controller)
    {
        entry["controller"] = *c.controller;
        entry["controllerListed"] = c.controllerListed;
    }
    return entry;
}

bool ClassFromJson(const json& entry, const std::string& where, PluginEntry* plugin, std::string* error)
{
    if (!entry.is_object())
    {
        *error = where + " is not an object";
        return false;
    }
    Reader read{entry, where, error};
    Vst3Class c;
    std::string id;
    if (!read.Text("id", &id, true))
        return false;
    // "" is a class the factory gave no info for.
    if (!id.empty() && !ParseClassId(id, &c.classId))
        return read.Fail("id", "is not 32 hexadecimal digits");
    if (!read.StatusOf(&plugin->status) || !read.Number("attempts", &plugin->attempts) ||
        !read.Text("error", &plugin->error) || !read.Text("phase", &plugin->phase) ||
        !read.Text("category", &c.category) || !read.Text("name", &c.name) ||
        !read.Text("vendor", &c.vendor) || !read.Text("version", &c.version) ||
        !read.Text("sdkVersion", &c.sdkVersion) || !read.Texts("subCategories", &c.subCategories) ||
        !read.Number("classFlags", &c.classFlags) || !read.Number("cardinality", &c.cardinality) ||
        !read.Texts("sources", &c.sources))
        return false;
    std::string vendorFrom;
    if (!read.Text("vendorFrom", &vendorFrom))
        return false;
    if (!vendorFrom.empty() && vendorFrom != "factory")
        return read.Fail("vendorFrom", "is not factory");
    c.vendorFromFactory = !vendorFrom.empty();
    if (entry.contains("controller"))
    {
        std::string controller;
        if (!read.Text("controller", &controller) || !read.Flag("controllerListed", &c.controllerListed))
            return false;
        if (!controller.empty() && !ParseClassId(controller, &controller))
            return read.Fail("controller", "is neither empty nor 32 hexadecimal digits");
        c.controller = controller;
    }
    const char* const busMembers[] = {"audioInputs", "audioOutputs", "audioInputBuses",
                                      "audioOutputBuses", "eventInputBuses", "eventOutputBuses"};
    for (const char* name : busMembers)
    {
        if (entry.contains(name))
            c.buses.emplace();
    }
    if (c.buses)
    {
        Vst3Buses& b = *c.buses;
        if (!read.Number("audioInputs", &b.audioInputs) || !read.Number("audioOutputs", &b.audioOutputs) ||
            !read.Number("audioInputBuses", &b.audioInputBuses) ||
            !read.Number("audioOutputBuses", &b.audioOutputBuses) ||
            !read.Number("eventInputBuses", &b.eventInputBuses) ||
            !read.Number("eventOutputBuses", &b.eventOutputBuses))
            return false;
    }
    plugin->vst3 = std::move(c);
    return true;
}

// A note port's dialect bits by name, in the order the file lists them.
const std::pair<uint32_t, const char*> ClapDialects[] = {{1, "clap"}, {2, "midi"}, {4, "midi-mpe"}, {8, "midi2"}};

json NotePortsToJson(const std::vector<ClapNotePort>& ports)
{
    json list = json::array();
    for (const ClapNotePort& port : ports)
    {
        json dialects = json::array();
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

bool NotePortsFromJson(Reader& read, const char* name, std::vector<ClapNotePort>* ports)
{
    auto list = read.object.find(name);
    if (list == read.object.end())
        return true;
    if (!list->is_array())
        return read.Fail(name, "is not a list");
    for (size_t i = 0; i < list->size(); i++)
    {
        const json& item = (*list)[i];
        std::string where = read.where + "." + name + "[" + std::to_string(i) + "]";
        if (!item.is_object())
        {
            *read.error = where + " is not an object";
            return false;
        }
        Reader port{item, where, read.error};
        ClapNotePort note;
        std::vector<std::string> dialects;
        std::string preferred;
        if (!port.Text("name", &note.name) || !port.Texts("dialects", &dialects) ||
            !port.Text("preferred", &preferred))
            return false;
        auto bit = [](const std::string& text) -> uint32_t {
            for (const auto& dialect : ClapDialects)
                if (text == dialect.second)
                    return dialect.first;
            return 0;
        };
        for (const std::string& dialect : dialects)
        {
            if (!bit(dialect))
                return port.Fail("dialects", "holds a name other than clap, midi, midi-mpe or midi2");
            note.dialects |= bit(dialect);
        }
        note.preferred = bit(preferred);
        if (!preferred.empty() && !note.preferred)
            return port.Fail("preferred", "is not clap, midi, midi-mpe, midi2 or empty");
        ports->push_back(std::move(note));
    }
    return true;
}

// A CLAP plugin's entry: its ID, the outcome of its instance's request, the
// descriptor, and the ports when the instance was read.
json ClapPluginToJson(const PluginEntry& plugin)
{
    json entry = json::object();
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
    {
        const ClapPorts& p = *c.ports;
        entry["audioInputPorts"] = p.audioInputPorts;
        entry["audioOutputPorts"] = p.audioOutputPorts;
        entry["audioInputs"] = p.audioInputs;
        entry["audioOutputs"] = p.audioOutputs;
        entry["noteInputs"] = NotePortsToJson(p.noteInputs);
        entry["noteOutputs"] = NotePortsToJson(p.noteOutputs);
        entry["noteInputPorts"] = p.noteInputPorts;
        entry["noteOutputPorts"] = p.noteOutputPorts;
    }
    if (c.gui)
        entry["editor"] = *c.gui;
    return entry;
}

bool ClapPluginFromJson(const json& entry, const std::string& where, PluginEntry* plugin, std::string* error)
{
    if (!entry.is_object())
    {
        *error = where + " is not an object";
        return false;
    }
    Reader read{entry, where, error};
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
    const char* const portMembers[] = {"audioInputPorts", "audioOutputPorts", "audioInputs",    "audioOutputs",
                                       "noteInputs",      "noteOutputs",      "noteInputPorts", "noteOutputPorts"};
    for (const char* name : portMembers)
    {
        if (entry.contains(name))
            c.ports.emplace();
    }
    if (c.ports)
    {
        ClapPorts& p = *c.ports;
        if (!read.Number("audioInputPorts", &p.audioInputPorts) ||
            !read.Number("audioOutputPorts", &p.audioOutputPorts) || !read.Number("audioInputs", &p.audioInputs) ||
            !read.Number("audioOutputs", &p.audioOutputs) || !NotePortsFromJson(read, "noteInputs", &p.noteInputs) ||
            !NotePortsFromJson(read, "noteOutputs", &p.noteOutputs) ||
            !read.Number("noteInputPorts", &p.noteInputPorts) || !read.Number("noteOutputPorts", &p.noteOutputPorts))
            return false;
    }
    plugin->clap = std::move(c);
    return true;
}

} // namespace

json RecordToJson(const ModuleRecord& record)
{
    const ModuleResult& m = record.result;
    bool vst3 = m.format == PluginFormat::vst3, clap = m.format == PluginFormat::clap;
    json entry = json::object();
    entry["path"] = ToUtf8(m.path);
    entry["format"] = FormatName(m.format);
    if (vst3)
        PutText(entry, "binary", ToUtf8(m.binary));
    PutText(entry, "machine", m.machine);
    if (vst3 && !m.architectures.empty())
        entry["architectures"] = m.architectures;
    entry["size"] = record.size;
    entry["modified"] = record.modified;
    entry["status"] = StatusName(m.status);
    entry["attempts"] = m.attempts;
    entry["scanMs"] = m.scanMs;
    PutText(entry, "error", m.error);
    if (vst3 || clap)
        PutText(entry, "phase", m.phase);
    PutText(entry, "loadProblem", m.loadProblem);
    if (m.crash)
        PutText(entry, "dump", m.crash->dumpPath);
    // Exit codes are unsigned on Windows (0xC0000005 is 3221225477).
    if (m.exitCode)
        entry["exitCode"] = (uint32_t)*m.exitCode;
    if (m.crash)
    {
        PutText(entry, "faultingModule", m.crash->faultingModule);
        if (m.crash->exceptionCode)
            entry["exceptionCode"] = HexId(m.crash->exceptionCode);
    }
    if (!m.windows.empty())
    {
        json windows = json::array();
        for (const DialogWindow& w : m.windows)
            windows.push_back({{"title", w.title}, {"text", w.text}});
        entry["windows"] = windows;
    }
    if (vst3)
    {
        if (m.factory)
        {
            entry["factory"] = {{"vendor", m.factory->vendor},
                                {"url", m.factory->url},
                                {"email", m.factory->email},
                                {"flags", m.factory->flags}};
        }
        entry["classCount"] = m.classCount;
        if (m.moduleInfoOnly)
            entry["moduleInfoOnly"] = true;
    }
    if (clap)
    {
        PutText(entry, "clapVersion", m.clapVersion);
        entry["pluginCount"] = m.pluginCount;
    }
    if ((vst3 || clap) && !m.findings.empty())
        entry["findings"] = m.findings;
    if (!m.plugins.empty())
    {
        json plugins = json::array();
        for (const PluginEntry& p : m.plugins)
        {
            plugins.push_back(vst3 ? ClassToJson(p) : clap ? ClapPluginToJson(p) : PluginToJson(p));
            PutLinks(plugins.back(), p.replaces);
            PutAra(plugins.back(), m.format, p.ara);
        }
        entry["plugins"] = plugins;
    }
    return entry;
}

bool RecordFromJson(const json& entry, ModuleRecord* record, std::string* error, int format)
{
    if (!entry.is_object())
    {
        *error = "a module entry is not an object";
        return false;
    }
    std::string path;
    Reader read{entry, "module", error};
    if (!read.Text("path", &path, true))
        return false;
    if (path.empty())
        return read.Fail("path", "is empty");
    read.where = "module '" + path + "'";
    ModuleResult& m = record->result;
    m.path = ToWide(path);
    // Format 1 knew VST 2 modules alone, and had no member to say so.
    if (format != OldDatabaseFormat)
    {
        std::string name;
        if (!read.Text("format", &name, true))
            return false;
        if (!ParseFormat(name, &m.format))
            return read.Fail("format", "is not vst2, vst3 or clap");
        // CLAP came with format 3.
        if (format < ClapDatabaseFormat && m.format == PluginFormat::clap)
            return read.Fail("format", "is not vst2 or vst3");
    }
    bool vst3 = m.format == PluginFormat::vst3, clap = m.format == PluginFormat::clap;
    uint32_t exitCode = 0;
    bool hasExitCode = entry.contains("exitCode");
    CrashInfo crash;
    if (!read.Number("size", &record->size, true) || !read.Text("modified", &record->modified, true) ||
        !read.StatusOf(&m.status) || !read.Number("attempts", &m.attempts) ||
        !read.Number("scanMs", &m.scanMs) || !read.Text("error", &m.error) ||
        !read.Text("loadProblem", &m.loadProblem) || !read.Text("dump", &crash.dumpPath) || !read.Number("exitCode", &exitCode) ||
        !read.Text("faultingModule", &crash.faultingModule) || !read.Text("machine", &m.machine) ||
        !read.Texts("architectures", &m.architectures))
        return false;
    if (hasExitCode)
        m.exitCode = (int)exitCode;
    auto code = entry.find("exceptionCode");
    if (code != entry.end() && !HexIdMember(*code, &crash.exceptionCode))
        return read.Fail("exceptionCode", "is not eight hexadecimal digits");
    // The file keeps a crash's findings as members of the entry.
    if (m.status == Status::crashed || !crash.dumpPath.empty() || !crash.faultingModule.empty() ||
        crash.exceptionCode)
    {
        crash.leftOverThread = m.error == LeftOverThreadCrash;
        m.crash = std::move(crash);
    }
    auto windows = entry.find("windows");
    if (windows != entry.end())
    {
        if (!windows->is_array())
            return read.Fail("windows", "is not a list");
        for (const json& w : *windows)
        {
            DialogWindow window;
            Reader wread{w, read.where + ".windows[]", error};
            if (!w.is_object())
                return read.Fail("windows", "holds an entry that is not an object");
            if (!wread.Text("title", &window.title) || !wread.Text("text", &window.text))
                return false;
            m.windows.push_back(window);
        }
    }
    if (vst3)
    {
        std::string binary;
        if (!read.Text("binary", &binary) || !read.Text("phase", &m.phase) ||
            !read.Number("classCount", &m.classCount) || !read.Flag("moduleInfoOnly", &m.moduleInfoOnly) ||
            !read.Texts("findings", &m.findings))
            return false;
        m.binary = ToWide(binary);
        auto factory = entry.find("factory");
        if (factory != entry.end())
        {
            if (!factory->is_object())
                return read.Fail("factory", "is not an object");
            Vst3Factory f;
            Reader fread{*factory, read.where + ".factory", error};
            if (!fread.Text("vendor", &f.vendor) || !fread.Text("url", &f.url) ||
                !fread.Text("email", &f.email) || !fread.Number("flags", &f.flags))
                return false;
            m.factory = std::move(f);
        }
    }
    if (clap)
    {
        // A CLAP module is its own binary.
        m.binary = m.path;
        if (!read.Text("phase", &m.phase) || !read.Text("clapVersion", &m.clapVersion) ||
            !read.Number("pluginCount", &m.pluginCount) || !read.Texts("findings", &m.findings))
            return false;
    }
    auto plugins = entry.find("plugins");
    if (plugins != entry.end())
    {
        if (!plugins->is_array())
            return read.Fail("plugins", "is not a list");
        for (size_t i = 0; i < plugins->size(); i++)
        {
            PluginEntry plugin;
            std::string where = read.where + ".plugins[" + std::to_string(i) + "]";
            bool read = vst3   ? ClassFromJson((*plugins)[i], where, &plugin, error)
                        : clap ? ClapPluginFromJson((*plugins)[i], where, &plugin, error)
                               : PluginFromJson((*plugins)[i], where, &plugin, error);
            if (!read)
                return false;
            if (!ReadLinks((*plugins)[i], where, &plugin.replaces, error) ||
                !ReadAra((*plugins)[i], where, &plugin.ara, error))
                return false;
            m.plugins.push_back(std::move(plugin));
        }
    }
    if (format < DatabaseFormat)
        CarryOver(&m);
    return true;
}

// Texts that are not valid UTF-8 (a plugin's raw bytes, a broken path) are
// written with U+FFFD in their place rather than failing the write.
std::string EntryText(const ModuleRecord& record)
{
    std::string text = RecordToJson(record).dump(2, ' ', false, json::error_handler_t::replace);
    // Inside the document an entry stands two levels deep.
    std::string indented = "    ";
    indented.reserve(text.size() + text.size() / 8);
    for (char c : text)
    {
        indented += c;
        if (c == '\n')
            indented += "    ";
    }
    return indented;
}

std::string ProductsText(const std::vector<const ModuleRecord*>& modules)
{
    // Written as the JSON library writes the list one level deep with an
    // indent of two, straight from the grouping: the list is made again on
    // every write, and may hold thousands of products.
    LinkedProducts linked = GroupProducts(modules);
    if (linked.products.empty())
        return "[]";
    std::string text = "[\n";
    text.reserve(linked.plugins.size() * 256);
    for (size_t p = 0; p < linked.products.size(); p++)
    {
        const auto& range = linked.products[p];
        const LinkedPlugin& first = linked.plugins[range.first];
        text += "    {\n      \"name\": ";
        AppendQuoted(text, *first.name);
        text += ",\n      \"vendor\": ";
        AppendQuoted(text, *first.vendor);
        text += ",\n      \"formats\": [";
        for (size_t i = range.first; i < range.second; i++)
        {
            if (i == range.first || linked.plugins[i].format != linked.plugins[i - 1].format)
                text += std::string(i == range.first ? "\n" : ",\n") + "        \"" +
                        FormatName(linked.plugins[i].format) + "\"";
        }
        text += "\n      ],\n      \"plugins\": [\n";
        for (size_t i = range.first; i < range.second; i++)
        {
            const LinkedPlugin& plugin = linked.plugins[i];
            text += "        {\n          \"format\": \"";
            text += FormatName(plugin.format);
            text += "\",\n          \"path\": ";
            AppendQuoted(text, *plugin.path);
            text += ",\n          \"id\": ";
            AppendQuoted(text, plugin.id);
            text += ",\n          \"link\": \"";
            text += plugin.link;
            text += i + 1 < range.second ? "\"\n        },\n" : "\"\n        }\n";
        }
        text += p + 1 < linked.products.size() ? "      ]\n    },\n" : "      ]\n    }\n";
    }
    return text + "  ]";
}

std::string DocumentFromEntries(const std::string& server, const std::vector<const std::string*>& entries,
                                const std::string& products)
{
    // The layout is the one a JSON library writes with an indent of two.
    std::string text = "{\n  \"format\": " + std::to_string(DatabaseFormat) + ",\n  \"server\": " +
                       json(server).dump(-1, ' ', false, json::error_handler_t::replace) + ",\n  \"modules\": ";
    const std::string end = ",\n  \"products\": " + products + "\n}\n";
    if (entries.empty())
        return text + "[]" + end;
    size_t size = text.size() + 16;
    for (const std::string* entry : entries)
        size += entry->size() + 2;
    text.reserve(size);
    text += "[\n";
    for (size_t i = 0; i < entries.size(); i++)
    {
        text += *entries[i];
        text += i + 1 < entries.size() ? ",\n" : "\n";
    }
    return text + "  ]" + end;
}

std::string DocumentText(const std::string& server, const std::vector<const ModuleRecord*>& modules)
{
    std::vector<std::string> texts;
    texts.reserve(modules.size());
    for (const ModuleRecord* record : modules)
        texts.push_back(EntryText(*record));
    std::vector<const std::string*> entries;
    for (const std::string& text : texts)
        entries.push_back(&text);
    return DocumentFromEntries(server, entries, ProductsText(modules));
}

bool ParseDocument(const std::string& bytes, std::string* server, std::vector<ModuleRecord>* modules,
                   std::string* error)
{
    json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded())
    {
        *error = "it is not valid JSON";
        return false;
    }
    if (!document.is_object() || !document.contains("format") || !document["format"].is_number_integer())
    {
        *error = "it has no format number";
        return false;
    }
    long long format = document["format"].get<long long>();
    if (format < OldDatabaseFormat || format > DatabaseFormat)
    {
        *error = "its format " + document["format"].dump() + " is not format 4, 3, 2 or 1";
        return false;
    }
    auto serverMember = document.find("server");
    if (serverMember != document.end() && !serverMember->is_string())
    {
        *error = "server is not a text";
        return false;
    }
    auto list = document.find("modules");
    if (list == document.end() || !list->is_array())
    {
        *error = "it has no list of modules";
        return false;
    }
    std::vector<ModuleRecord> read;
    read.reserve(list->size());
    for (const json& entry : *list)
    {
        ModuleRecord record;
        if (!RecordFromJson(entry, &record, error, (int)format))
            return false;
        read.push_back(std::move(record));
    }
    *modules = std::move(read);
    *server = serverMember != document.end() ? serverMember->get<std::string>() : std::string();
    return true;
}

} // namespace orvanta
